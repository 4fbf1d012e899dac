import QtQml

// Stand-in for the tray menu's model: keeps the texts the UI hands over.
Recorder {
    property var texts: ({})

    signal changed()
    signal showRequested()
    signal quitRequested()

    function reset() { clearCalls() }

    function trigger(action) { record("trigger", arguments) }
}
