import QtQml

// Stand-in for the minimum-version gate; tests answer the check by setting the state.
Recorder {
    property bool isChecking: false
    property bool checked: false
    property bool updateRequired: false
    property bool canUseApp: false
    property string currentVersion: "1.0.0"
    property string minimumVersion: ""
    property string updateUrl: ""
    property string errorMessage: ""

    function checkMinimumSupportedVersion() { record("checkMinimumSupportedVersion", arguments); isChecking = true }
    function exitApplication() { record("exitApplication", arguments) }
}
