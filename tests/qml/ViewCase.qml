import QtQuick
import QtTest
import appclient

// What the view suites share: the view under test in a phone-sized window, its parts by name,
// typing as a user does, signal spies, and stand-ins back at their first state.
TestCase {
    id: testCase

    property var view

    width: 400
    height: 760
    visible: true // a TestCase hides itself, and with it the view under test
    when: windowShown

    // Every stand-in as it started, and the UI in English.
    function resetBackend() {
        for (const standIn of [auth, subscribeHandler, service, latency, traffic, store, ticket, announcement,
                               versionChecker, desktop])
            standIn.reset()
        Translations.currentLanguage = "en"
    }

    // The view from a component, or a view of the module by its type name filling the window.
    function make(component, properties) {
        if (typeof component !== "string") {
            view = createTemporaryObject(component, testCase, properties || {})
            return view
        }
        const values = Object.keys(properties || {}).map(name => name + ": " + JSON.stringify(properties[name]))
        view = createTemporaryQmlObject("import appclient\n" + component + " { anchors.fill: parent\n"
                                        + values.join("\n") + " }", testCase)
        verify(view, component)
        return view
    }

    function item(name, parent) {
        const found = findChild(parent || view, name)
        verify(found, name)
        return found
    }

    function type(field, text) {
        field.forceActiveFocus()
        for (const ch of text)
            keyClick(ch)
    }

    function spy(target, signalName) {
        return createTemporaryObject(spyComponent, testCase, { target: target, signalName: signalName })
    }

    // The names and arguments of a stand-in's calls, in order, one text each.
    function callTexts(standIn) {
        return standIn.calls.map(call => [call.name].concat(call.args).join(" "))
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }
}
