pragma Singleton
import QtQuick

// Opens web addresses in the system's browser. Where none can be started the click must not go
// unanswered: the window hears of it and offers the address to copy.
QtObject {
    signal unreachable(string url)

    function open(url) {
        if (Qt.openUrlExternally(url))
            return true
        unreachable(String(url))
        return false
    }
}
