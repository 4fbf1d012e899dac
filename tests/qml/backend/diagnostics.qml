import QtQml

// Stand-in for the support report: a fixed text, calls recorded.
Recorder {
    readonly property string report: "== Client ==\nqivro test"

    function reset() { clearCalls() }

    function text() { record("text", arguments); return report }
    function copyToClipboard() { record("copyToClipboard", arguments) }
    function appendToMessage(message) { record("appendToMessage", arguments); return message + "\n\n" + report }
}
