import QtQml

// Stand-in for the desktop settings; the switches simply hold their value.
QtObject {
    property bool systemProxy: false
    property bool startAtLogin: false
    property bool connectOnStart: false

    function reset() {
        systemProxy = false
        startAtLogin = false
        connectOnStart = false
    }
}
