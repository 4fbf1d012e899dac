.pragma library
// Failure texts the panel and the request layer send (trimmed, in lower case), and the key of the
// message shown for each. Texts not listed here are shown as they come.

var phrases = {
    "user does not exist": "error_user_not_found",
    "invalid email or password": "error_invalid_credentials",
    "invalid credentials": "error_invalid_credentials",
    "email is a required field": "error_email_required",
    "password is a required field": "error_password_required",
    "code is a required field": "error_code_required",
    "invalid code": "error_invalid_code",
    "invalid verification code": "error_invalid_code",
    "verification code is invalid": "error_invalid_code",
    "verification code expired": "error_code_expired",
    "code expired": "error_code_expired",
    "email already exists": "error_email_taken",
    "email already registered": "error_email_taken",
    "user already exists": "error_email_taken",
    "failed to send code": "error_send_code_failed",
    "failed to send verification code": "error_send_code_failed",
    "failed to reset password": "error_reset_password_failed",
    "login failed": "error_login_failed",
    "registration failed": "error_register_failed",
    "authentication required": "error_auth_required",
    "not logged in": "error_auth_required",
    "authentication expired, please log in again": "error_auth_expired",
    "connection timed out": "error_timeout",
    "unable to connect to server": "error_connection",
    "server error, please try again later": "error_server",
    "too many requests": "error_rate_limited",
    "feature not enabled": "free_plan_claim_unavailable",
    "invalid access": "error_auth_expired",
    "请先登录": "error_auth_expired",
    "请先登陆": "error_auth_expired",
    "coupon does not exist": "coupon_invalid",
    "coupon not found": "coupon_invalid",
    "invalid coupon": "coupon_invalid",
    "balance payment method is unavailable": "balance_payment_unavailable",
    // The panel's bare success text is never a useful failure message.
    "success": "error_unknown"
};
