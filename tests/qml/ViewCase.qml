import QtQuick
import QtTest

// What the view suites share: the view under test in a phone-sized window, its parts by name,
// typing as a user does, and signal spies.
TestCase {
    id: testCase

    property var view

    width: 400
    height: 760
    visible: true // a TestCase hides itself, and with it the view under test
    when: windowShown

    function make(component, properties) {
        view = createTemporaryObject(component, testCase, properties || {})
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

    Component {
        id: spyComponent

        SignalSpy {}
    }
}
