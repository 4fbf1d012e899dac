import QtQuick
import QtTest
import appclient

Item {
    id: root

    width: 400
    height: 760

    FlashMessage {
        id: flash

        displayDuration: 400
    }

    TestCase {
        name: "FlashMessage"
        when: windowShown

        // A second message replaces the first and is shown for its own full duration.
        function test_replaceRestartsDuration() {
            flash.showError("first", "one")
            verify(flash.active)
            compare(flash.success, false)
            wait(250)
            flash.showSuccess("second")
            compare(flash.title, "second")
            compare(flash.message, "")
            compare(flash.success, true)
            wait(250)
            verify(flash.active, "the first message's timer must not hide the second")
            tryCompare(flash, "active", false, 400)
            tryCompare(flash, "visible", false, 1000)
        }

        function test_missingValuesBecomeEmpty() {
            flash.show(false, undefined, null)
            compare(flash.title, "")
            compare(flash.message, "")
            verify(flash.width <= 440 && flash.width === root.width - 32)
            tryCompare(flash, "y", 16, 1000)
        }
    }
}
