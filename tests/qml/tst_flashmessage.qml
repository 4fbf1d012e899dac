import QtQuick
import QtTest
import appclient

ViewCase {
    name: "FlashMessage"

    FlashMessage {
        id: flash

        displayDuration: 400
    }

    // A second message replaces the first and is shown for its own full duration.
    function test_replaceRestartsDuration() {
        flash.showError("first", "one")
        wait(250)
        flash.showSuccess("second")
        compare([flash.title, flash.message, flash.success], ["second", "", true])
        wait(250)
        verify(flash.active, "the first message's timer must not hide the second")
        tryCompare(flash, "active", false, 400)
        flash.show(false, undefined, null)
        compare([flash.title, flash.message], ["", ""])
    }
}
