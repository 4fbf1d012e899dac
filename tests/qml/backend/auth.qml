import QtQml

// Stand-in for the account handler: same properties, signals and operations; tests drive the
// state and the signals themselves.
Recorder {
    property bool isLoggedIn: false
    property bool isLoading: false
    property bool isInitializing: false
    property string userEmail: ""
    property real userBalance: 0
    property real userGiftAmount: 0
    property string userReferCode: ""
    property int registrationState: 0
    property int passwordResetState: 0
    property bool loginResult: true
    // When set, login() fails with it before returning, as the real handler reports failures.
    property string loginError: ""

    signal loginFailed(string error)
    signal loginSucceeded
    signal verificationCodeSent
    signal verificationCodeFailed(string error)
    signal codeVerified
    signal codeVerificationFailed(string error)
    signal registrationSucceeded
    signal registrationFailed(string error)
    signal sessionRestored
    signal sessionExpired
    signal tokenValidationFailed(string error)
    signal passwordResetCodeSent
    signal passwordResetCodeFailed(string error)
    signal passwordResetCodeVerified
    signal passwordResetCodeVerificationFailed(string error)
    signal passwordResetSucceeded
    signal passwordResetFailed(string error)

    function login(email, password) {
        record("login", arguments)
        if (loginError !== "") {
            loginFailed(loginError)
            return false
        }
        return loginResult
    }
    function logout() { record("logout", arguments); registrationState = 0; isLoggedIn = false }
    function sendVerificationCode(email) { record("sendVerificationCode", arguments) }
    function verifyCode(email, code) { record("verifyCode", arguments) }
    function registerAccount(email, password, inviteCode) { record("registerAccount", arguments) }
    function resetRegistrationState() { record("resetRegistrationState", arguments); registrationState = 0 }
    function sendPasswordResetCode(email) { record("sendPasswordResetCode", arguments) }
    function verifyPasswordResetCode(email, code) { record("verifyPasswordResetCode", arguments) }
    function resetPassword(email, password) { record("resetPassword", arguments) }
    function resetPasswordResetState() { record("resetPasswordResetState", arguments); passwordResetState = 0 }
    function initializeSession() { record("initializeSession", arguments) }
    function validateToken() { record("validateToken", arguments); return true }
}
