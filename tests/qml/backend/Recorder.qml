import QtQml

// Base of the stand-ins: remembers every call so that tests can check what a view asked for, and
// reset() puts every property back to the value it started with.
QtObject {
    id: recorder

    property var calls: []
    property var initial: ({})

    Component.onCompleted: {
        const values = {}
        for (const name in recorder) {
            if (typeof recorder[name] !== "function" && ["calls", "initial", "objectName"].indexOf(name) < 0)
                values[name] = JSON.stringify(recorder[name])
        }
        initial = values
    }

    function reset() {
        for (const name in initial)
            recorder[name] = JSON.parse(initial[name])
        calls = []
    }

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
