import QtQml

// Stand-in for the desktop settings; the switches simply hold their value.
Recorder {
    property bool systemProxy: false
    property bool startAtLogin: false
    property bool connectOnStart: false
}
