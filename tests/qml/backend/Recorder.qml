import QtQml

// Base of the stand-ins: remembers every call so that tests can check what a view asked for.
QtObject {
    property var calls: []

    function record(name, args) {
        calls = calls.concat([{ "name": name, "args": Array.prototype.slice.call(args || []) }])
    }

    function callsTo(name) {
        return calls.filter(call => call.name === name)
    }

    function clearCalls() {
        calls = []
    }
}
