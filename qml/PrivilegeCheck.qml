import QtQuick

// Runs a connect only once administrator rights for TUN mode are held: at once when they are,
// after the password dialog where the platform asks for one, or never in this process when the
// program restarts elevated (the new process resumes the pending subscription itself).
Item {
    id: root

    // What to run once the password dialog has obtained the rights.
    property var pendingConnectAction: null
    property string pendingConnectSubscriptionUrl: ""

    function run(url, action) {
        if (service.hasPrivileges) {
            service.clearPendingConnection()
            runWithTun(action)
            return
        }
        pendingConnectSubscriptionUrl = url
        if (service.requiresPasswordInput) {
            pendingConnectAction = action
            dialog.openDialog()
            return
        }
        service.preparePendingConnection(url)
        if (!service.requestPrivileges()) {
            pendingConnectSubscriptionUrl = ""
            service.clearPendingConnection()
            return
        }
        if (service.hasPrivileges)
            grantedAndRun(action)
    }

    function submitPassword(password) {
        if (pendingConnectSubscriptionUrl !== "")
            service.preparePendingConnection(pendingConnectSubscriptionUrl)
        if (!service.requestPrivilegesWithPassword(password)) {
            dialog.showFailure()
            return
        }
        dialog.close()
        const action = pendingConnectAction
        pendingConnectAction = null
        if (service.hasPrivileges)
            grantedAndRun(action)
    }

    function cancel() {
        pendingConnectAction = null
        pendingConnectSubscriptionUrl = ""
        service.clearPendingConnection()
        dialog.close()
    }

    function grantedAndRun(action) {
        pendingConnectSubscriptionUrl = ""
        service.clearPendingConnection()
        runWithTun(action)
    }

    function runWithTun(action) {
        service.tunEnabled = true
        if (action)
            action()
    }

    PrivilegePasswordDialog {
        id: dialog

        onSubmitted: password => root.submitPassword(password)
        onCancelled: root.cancel()
    }
}
