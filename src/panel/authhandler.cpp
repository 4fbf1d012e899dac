#include "panel/authhandler.h"

#include "base/secretstore.h"
#include "network/api.h"
#include "network/apiendpoints.h"
#include "network/authfailure.h"
#include "network/deployment.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "network/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <utility>

namespace {

const QString kAuthGroup = QStringLiteral("Auth");
const QString kTokenKey = QStringLiteral("Auth/token");
const QString kEmailKey = QStringLiteral("Auth/email");
const QString kPasswordKey = QStringLiteral("Auth/password");
const QString kExpiresAtKey = QStringLiteral("Auth/tokenExpiresAt");

// Purposes of a verification code, as the panel numbers them.
constexpr int kRegistrationCode = 1;
constexpr int kPasswordResetCode = 2;

QSettings credentialStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope,
        QCoreApplication::organizationName(), QCoreApplication::applicationName());
}

QByteArray compact(const QJsonObject &body)
{
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

// A JSON number as whole seconds, truncated towards zero; 0 when it has no 64-bit value.
qint64 wholeSeconds(const QJsonValue &value)
{
    const QVariant exact = value.toVariant();
    if (exact.typeId() == QMetaType::LongLong)
        return exact.toLongLong();
    const double seconds = value.toDouble();
    // 2^63 is exact as a double; converting anything outside the range would be undefined.
    if (!(seconds >= -9223372036854775808.0 && seconds < 9223372036854775808.0))
        return 0;
    return static_cast<qint64>(seconds);
}

void emptyAuthGroup(QSettings &settings)
{
    settings.beginGroup(kAuthGroup);
    settings.remove(QString());
    settings.endGroup();
    settings.sync();
}

bool loginAccepted(const QJsonObject &reply, QString *msg)
{
    *msg = API::fromJson<API::LoginResponse>(reply).msg;
    return *msg == API::SuccessMsg;
}

bool msgAccepted(const QJsonObject &reply, QString *msg)
{
    *msg = reply.value(QStringLiteral("msg")).toString();
    return *msg == API::SuccessMsg;
}

// The panel's own refusal: a reply envelope whose msg says something other than "success". A body
// that is no envelope at all comes from something else in the way and says nothing.
bool isRefusal(const QJsonObject &reply)
{
    const QJsonValue msg = reply.value(QStringLiteral("msg"));
    return msg.isString() && !msg.toString().isEmpty() && msg.toString() != API::SuccessMsg;
}

} // namespace

qint64 jwtExpiresAt(const QString &token)
{
    const QStringList parts = token.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return 0;
    QByteArray payload = parts.at(1).toUtf8();
    while (payload.size() % 4 != 0)
        payload.append('=');
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray::fromBase64(payload, QByteArray::Base64UrlEncoding));
    if (!document.isObject())
        return 0;
    const QJsonValue exp = document.object().value(QStringLiteral("exp"));
    if (exp.isDouble())
        return wholeSeconds(exp);
    if (exp.isString()) {
        bool ok = false;
        const qint64 seconds = exp.toString().toLongLong(&ok, 10);
        return ok ? seconds : 0;
    }
    return 0;
}

void clearLegacyAuthCredentialCopies()
{
    const QString application = QCoreApplication::applicationName();
    if (application.isEmpty())
        return;
    const QString current = QCoreApplication::organizationName();
    QStringList candidates;
    for (const QString &organisation : {QCoreApplication::organizationDomain(),
             Deployment::webDomain(), QStringLiteral("com.qivro.app")}) {
        if (!organisation.isEmpty() && organisation != current
            && !candidates.contains(organisation))
            candidates.append(organisation);
    }
    for (const QString &organisation : std::as_const(candidates)) {
        QSettings legacy(QSettings::IniFormat, QSettings::UserScope, organisation, application);
        // Writing to a file that does not exist would create it.
        if (QFile::exists(legacy.fileName()))
            emptyAuthGroup(legacy);
    }
}

AuthHandler::AuthHandler(QObject *parent)
    : QObject(parent)
    , m_registration(
          kRegistrationCode, [this] { emit registrationStateChanged(); },
          [this](bool loading) { setLoading(loading); })
    , m_passwordReset(
          kPasswordResetCode, [this] { emit passwordResetStateChanged(); },
          [this](bool loading) { setLoading(loading); })
{ }

AuthHandler *AuthHandler::getInstance()
{
    // Never destroyed: the UI and the other handlers hold it until the process ends.
    static AuthHandler *const instance = new AuthHandler();
    return instance;
}

// --- Sign-in ---

bool AuthHandler::login(const QString &email, const QString &password)
{
    m_isLoading = true;
    emit isLoadingChanged();
    const QJsonObject body {{QStringLiteral("email"), email}, {QStringLiteral("identifier"), email},
        {QStringLiteral("password"), password}};
    API::LoginResponse reply;
    try {
        reply = API::fromJson<API::LoginResponse>(NetworkHandler::getDirectInstance()
                                                      ->request()
                                                      .url(QUrl(ApiEndpoints::Auth::Login))
                                                      .body(compact(body))
                                                      .headers(clientHeaders())
                                                      .post()
                                                      .object());
    } catch (const NetworkError &error) {
        m_isLoading = false;
        emit isLoadingChanged();
        emit loginFailed(error.isAuthError() ? QStringLiteral("Invalid email or password")
                                             : error.userMessage());
        return false;
    }
    m_isLoading = false;
    emit isLoadingChanged();

    if (reply.msg != API::SuccessMsg) {
        emit loginFailed(reply.msg.isEmpty() ? QStringLiteral("Login failed.") : reply.msg);
        return false;
    }
    setAuthToken(reply.token);
    m_userEmail = email;
    m_savedPassword = password;
    validateToken();
    saveCredentials();
    emit isLoggedInChanged();
    emit userEmailChanged();
    emit loginSucceeded();
    return true;
}

void AuthHandler::logout()
{
    resetSessionState();
    m_savedPassword.clear();
    m_registration.reset();
    clearCredentials();
    emit isLoggedInChanged();
    emit userEmailChanged();
    emit userBalanceChanged();
    emit userGiftAmountChanged();
    emit userReferCodeChanged();
}

// --- Registration ---

void AuthHandler::sendVerificationCode(const QString &email)
{
    if (m_registration.sendCode(email, report(&AuthHandler::verificationCodeFailed)))
        emit verificationCodeSent();
}

void AuthHandler::verifyCode(const QString &email, const QString &code)
{
    if (m_registration.verifyCode(email, code, report(&AuthHandler::codeVerificationFailed)))
        emit codeVerified();
}

void AuthHandler::registerAccount(
    const QString &email, const QString &password, const QString &inviteCode)
{
    QJsonObject body {{QStringLiteral("email"), email}, {QStringLiteral("identifier"), email},
        {QStringLiteral("password"), password},
        {QStringLiteral("domain"), QStringLiteral("qivro")}};
    if (!inviteCode.isEmpty())
        body.insert(QStringLiteral("invite"), inviteCode);
    const auto reply
        = m_registration.finish(ApiEndpoints::Auth::Register, body, clientHeaders(), &loginAccepted,
            QStringLiteral("Registration failed"), report(&AuthHandler::registrationFailed));
    if (!reply)
        return;
    setAuthToken(API::fromJson<API::LoginResponse>(*reply).token);
    m_userEmail = email;
    m_savedPassword = password;
    validateToken();
    saveCredentials();
    m_registration.complete();
    emit isLoggedInChanged();
    emit userEmailChanged();
    emit registrationSucceeded();
}

void AuthHandler::resetRegistrationState()
{
    m_registration.reset();
}

// --- Password reset ---

void AuthHandler::sendPasswordResetCode(const QString &email)
{
    if (m_passwordReset.sendCode(email, report(&AuthHandler::passwordResetCodeFailed)))
        emit passwordResetCodeSent();
}

void AuthHandler::verifyPasswordResetCode(const QString &email, const QString &code)
{
    if (m_passwordReset.verifyCode(
            email, code, report(&AuthHandler::passwordResetCodeVerificationFailed)))
        emit passwordResetCodeVerified();
}

void AuthHandler::resetPassword(const QString &email, const QString &password)
{
    const auto reply = m_passwordReset.finish(ApiEndpoints::Auth::ResetPassword,
        {{QStringLiteral("email"), email}, {QStringLiteral("identifier"), email},
            {QStringLiteral("password"), password}},
        {}, &msgAccepted, QStringLiteral("Failed to reset password"),
        report(&AuthHandler::passwordResetFailed));
    if (!reply)
        return;
    // Automatic renewal must use the new password; other accounts' resets are none of ours.
    if (!m_token.isEmpty() && email == m_userEmail) {
        m_savedPassword = password;
        saveCredentials();
    }
    m_passwordReset.complete();
    emit passwordResetSucceeded();
}

void AuthHandler::resetPasswordResetState()
{
    m_passwordReset.reset();
}

void AuthHandler::setLoading(bool loading)
{
    m_isLoading = loading;
    emit isLoadingChanged();
}

EmailCodeFlow::Report AuthHandler::report(void (AuthHandler::*signal)(QString error))
{
    return [this, signal](const QString &error) { emit(this->*signal)(error); };
}

QList<QPair<QByteArray, QByteArray>> AuthHandler::clientHeaders()
{
    return {{QByteArrayLiteral("X-Original-Forwarded-For"), Platform::publicIpAddress().toUtf8()},
        {QByteArrayLiteral("User-Agent"), Platform::userAgent().toUtf8()},
        {QByteArrayLiteral("Login-Type"), QByteArrayLiteral("email")}};
}

// --- Session ---

void AuthHandler::initializeSession()
{
    qDebug() << "[AuthHandler] initializeSession() called";
    m_isInitializing = true;
    emit isInitializingChanged();

    loadCredentials();
    qDebug() << "[AuthHandler] Loaded token:" << (m_token.isEmpty() ? "(empty)" : "(exists)");

    if (m_token.isEmpty()) {
        qDebug() << "[AuthHandler] No token found, emitting sessionExpired";
        bool rejected = false;
        if (!reauthenticateWithSavedPassword(&rejected)) {
            if (rejected) {
                m_savedPassword.clear();
                clearCredentials();
            }
            m_isInitializing = false;
            emit isInitializingChanged();
            emit sessionExpired();
            return;
        }
    }

    if (tokenExpired()) {
        qDebug() << "[AuthHandler] Stored token expired; re-authenticating";
        bool rejected = false;
        if (!reauthenticateWithSavedPassword(&rejected)) {
            // Without an answer about the password, keep it on disk for the next start.
            const bool forget = rejected || m_savedPassword.isEmpty();
            resetSessionState();
            if (forget) {
                m_savedPassword.clear();
                clearCredentials();
            }
            finishSessionExpired();
            return;
        }
    }

    qDebug() << "[AuthHandler] Validating token...";
    bool authFailed = false;
    if (!validateCurrentToken(&authFailed)) {
        if (!authFailed) {
            finishSessionUnavailable();
            return;
        }
        qDebug() << "[AuthHandler] Token rejected; attempting saved-password re-authentication";
        bool rejected = false;
        if (!reauthenticateWithSavedPassword(&rejected)) {
            // A server error or a garbled answer says nothing about the password: the session
            // stays, and the next refused request tries the password again.
            if (!rejected && !m_userEmail.isEmpty() && !m_savedPassword.isEmpty()) {
                finishSessionUnavailable();
                return;
            }
            qDebug() << "[AuthHandler] Session could not be restored; credentials rejected";
            resetSessionState();
            m_savedPassword.clear();
            clearCredentials();
            finishSessionExpired();
            return;
        }
    }

    qDebug() << "[AuthHandler] Token valid, emitting sessionRestored";
    finishSessionRestored();
}

void AuthHandler::finishSessionRestored()
{
    m_isInitializing = false;
    emit isInitializingChanged();
    emit isLoggedInChanged();
    emit userEmailChanged();
    emit sessionRestored();
}

void AuthHandler::finishSessionUnavailable()
{
    qDebug() << "[AuthHandler] Session validation unavailable; preserving cached session";
    finishSessionRestored();
}

void AuthHandler::finishSessionExpired()
{
    m_isInitializing = false;
    emit isInitializingChanged();
    emit isLoggedInChanged();
    emit userEmailChanged();
    emit userBalanceChanged();
    emit userGiftAmountChanged();
    emit userReferCodeChanged();
    emit sessionExpired();
}

bool AuthHandler::tokenExpired() const
{
    return m_tokenExpiresAt > 0 && QDateTime::currentSecsSinceEpoch() >= m_tokenExpiresAt;
}

bool AuthHandler::validateToken()
{
    if (tokenExpired()) {
        qDebug() << "[AuthHandler] validateToken: token expired";
        return reauthenticateWithSavedPassword();
    }
    bool authFailed = false;
    if (validateCurrentToken(&authFailed))
        return true;
    if (!authFailed)
        return false;
    return reauthenticateWithSavedPassword();
}

bool AuthHandler::recoverFromAuthFailure(const QString &failedToken)
{
    if (!failedToken.isEmpty() && failedToken != m_token) {
        qDebug() << "[AuthHandler] Auth failure was for an older token; using renewed token";
        return true;
    }
    if (failedToken.isEmpty() && m_token.isEmpty() && m_userEmail.isEmpty())
        return false;
    qDebug() << "[AuthHandler] Recovering from auth failure with saved credentials";
    return reauthenticateWithSavedPassword();
}

void AuthHandler::setAuthToken(const QString &token)
{
    m_token = token;
    m_tokenExpiresAt = jwtExpiresAt(token);
    qDebug().noquote() << "[AuthHandler] Auth token expiry:"
                       << (m_tokenExpiresAt < 1
                                  ? QStringLiteral("(unknown)")
                                  : QDateTime::fromSecsSinceEpoch(m_tokenExpiresAt, Qt::UTC)
                                        .toString(Qt::ISODate));
}

bool AuthHandler::validateCurrentToken(bool *authFailed)
{
    if (authFailed)
        *authFailed = false;
    if (m_token.isEmpty()) {
        qDebug() << "[AuthHandler] validateToken: token is empty";
        return false;
    }
    qDebug().noquote() << "[AuthHandler] validateToken: calling" << ApiEndpoints::User::Info;
    QJsonObject reply;
    try {
        reply = NetworkHandler::getDirectInstance()
                    ->request()
                    .url(QUrl(ApiEndpoints::User::Info))
                    .header(QByteArrayLiteral("Authorization"), m_token.toUtf8())
                    .get()
                    .object();
    } catch (const NetworkError &error) {
        qDebug().noquote() << "[AuthHandler] validateToken error:" << error.message()
                           << "httpStatus:" << error.httpStatusCode();
        if (error.isAuthError()) {
            if (authFailed)
                *authFailed = true;
        } else {
            emit tokenValidationFailed(error.message());
        }
        return false;
    }

    const QJsonValue msg = reply.value(QStringLiteral("msg"));
    if (!msg.isUndefined() && msg.toString() == API::SuccessMsg) {
        if (reply.contains(QStringLiteral("data"))) {
            const auto user
                = API::fromJson<API::User>(reply.value(QStringLiteral("data")).toObject());
            m_userBalance = user.balance / 100.0;
            m_userGiftAmount = user.gift_amount / 100.0;
            m_userReferCode = user.refer_code;
            emit userBalanceChanged();
            emit userGiftAmountChanged();
            emit userReferCodeChanged();
        }
        return true;
    }
    qDebug() << "[AuthHandler] validateToken: msg is not 'success'";
    // Only the panel's wording for a refused token counts; anything else leaves it standing.
    if (authFailed && isRefusal(reply) && looksLikeAuthFailureMessage(msg.toString()))
        *authFailed = true;
    return false;
}

bool AuthHandler::reauthenticateWithSavedPassword(bool *rejected)
{
    if (rejected)
        *rejected = false;
    if (m_userEmail.isEmpty() || m_savedPassword.isEmpty()) {
        qDebug() << "[AuthHandler] reauthenticate: missing saved credentials";
        return false;
    }
    const QJsonObject body {{QStringLiteral("email"), m_userEmail},
        {QStringLiteral("identifier"), m_userEmail}, {QStringLiteral("password"), m_savedPassword}};
    qDebug() << "[AuthHandler] reauthenticate: calling login endpoint";
    QJsonObject answer;
    try {
        answer = NetworkHandler::getDirectInstance()
                     ->request()
                     .url(QUrl(ApiEndpoints::Auth::Login))
                     .body(compact(body))
                     .headers(clientHeaders())
                     .post()
                     .object();
    } catch (const NetworkError &error) {
        qDebug().noquote() << "[AuthHandler] reauthenticate error:" << error.message()
                           << "httpStatus:" << error.httpStatusCode();
        if (error.isAuthError()) {
            if (rejected)
                *rejected = true;
        } else {
            emit tokenValidationFailed(error.message());
        }
        return false;
    }

    const auto reply = API::fromJson<API::LoginResponse>(answer);
    if (reply.msg == API::SuccessMsg && !reply.token.isEmpty()) {
        setAuthToken(reply.token);
        validateCurrentToken();
        saveCredentials();
        qDebug() << "[AuthHandler] reauthenticate: token renewed";
        return true;
    }
    qDebug() << "[AuthHandler] reauthenticate: login rejected";
    // The login endpoint refuses only credentials; a garbled success is no verdict on them.
    if (rejected && isRefusal(answer))
        *rejected = true;
    return false;
}

void AuthHandler::resetSessionState()
{
    m_token.clear();
    m_tokenExpiresAt = 0;
    m_userEmail.clear();
    m_userReferCode.clear();
    m_userBalance = 0.0;
    m_userGiftAmount = 0.0;
}

// --- Stored credentials ---

void AuthHandler::saveCredentials()
{
    clearLegacyAuthCredentialCopies();
    QSettings settings = credentialStore();
    qDebug().noquote() << "[AuthHandler] Saving credentials to:" << settings.fileName();
    SecretStore &secrets = SecretStore::instance();
    secrets.write(settings, kTokenKey, m_token);
    settings.setValue(kEmailKey, m_userEmail);
    secrets.write(settings, kPasswordKey, m_savedPassword);
    settings.setValue(kExpiresAtKey, m_tokenExpiresAt);
    settings.sync();
    qDebug() << "[AuthHandler] Credentials saved, status:"
             << QMetaEnum::fromType<QSettings::Status>().valueToKey(settings.status());
}

void AuthHandler::loadCredentials()
{
    QSettings settings = credentialStore();
    qDebug().noquote() << "[AuthHandler] Loading credentials from:" << settings.fileName();
    SecretStore &secrets = SecretStore::instance();
    m_token = secrets.read(settings, kTokenKey);
    m_userEmail = settings.value(kEmailKey).toString();
    m_savedPassword = secrets.read(settings, kPasswordKey);
    m_tokenExpiresAt = settings.value(kExpiresAtKey, 0).toLongLong();
    if (!m_token.isEmpty() && m_tokenExpiresAt < 1)
        m_tokenExpiresAt = jwtExpiresAt(m_token);
    qDebug() << "[AuthHandler] Token loaded:" << (m_token.isEmpty() ? "empty" : "exists");
}

void AuthHandler::clearCredentials()
{
    qDebug() << "[AuthHandler] Clearing credentials";
    QSettings settings = credentialStore();
    emptyAuthGroup(settings);
    SecretStore::instance().remove(settings, kTokenKey);
    SecretStore::instance().remove(settings, kPasswordKey);
    clearLegacyAuthCredentialCopies();
}
