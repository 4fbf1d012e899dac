#pragma once

#include "panel/emailcodeflow.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <optional>

// Expiry ("exp", seconds since the epoch) of a JSON Web Token, read from its payload without
// checking the signature. 0 when the token has none or cannot be read.
qint64 jwtExpiresAt(const QString &token);

// Empties the "Auth" group that older builds kept under other organisation names (the
// organisation domain, the product's web domain, "com.qivro.app"), so that no stale password
// outlives a sign-out. Never creates a file and never touches the current organisation's.
void clearLegacyAuthCredentialCopies();

// The signed-in session with the panel: token, saved credentials, account figures, and the
// sign-in, registration and password-reset flows. The credentials survive restarts: e-mail and
// expiry in the INI settings under "Auth", token and password in the credential store
// (SecretStore). initializeSession() restores them and signs in again with the saved password
// when the token has expired or is refused; only the panel's definite refusal of the password
// erases them.
class AuthHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY isLoggedInChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isInitializing READ isInitializing NOTIFY isInitializingChanged)
    Q_PROPERTY(QString userEmail READ userEmail NOTIFY userEmailChanged)
    Q_PROPERTY(double userBalance READ userBalance NOTIFY userBalanceChanged)
    Q_PROPERTY(double userGiftAmount READ userGiftAmount NOTIFY userGiftAmountChanged)
    Q_PROPERTY(QString userReferCode READ userReferCode NOTIFY userReferCodeChanged)
    Q_PROPERTY(
        RegistrationState registrationState READ registrationState NOTIFY registrationStateChanged)
    Q_PROPERTY(PasswordResetState passwordResetState READ passwordResetState NOTIFY
            passwordResetStateChanged)

public:
    enum class RegistrationState
    {
        Idle = 0,
        SendingCode = 1,
        CodeSent = 2,
        VerifyingCode = 3,
        CodeVerified = 4,
        Registering = 5,
        Completed = 6
    };
    Q_ENUM(RegistrationState)

    enum class PasswordResetState
    {
        Idle = 0,
        SendingCode = 1,
        CodeSent = 2,
        VerifyingCode = 3,
        CodeVerified = 4,
        Resetting = 5,
        Completed = 6
    };
    Q_ENUM(PasswordResetState)

    // Tests build their own; the program uses getInstance().
    explicit AuthHandler(QObject *parent = nullptr);

    // The process-wide session, signed out until initializeSession() or a sign-in.
    static AuthHandler *getInstance();

    // Sent by the other handlers as their bare "Authorization" value.
    QString authToken() const { return m_token; }
    // Seconds since the epoch; below 1: the token does not expire.
    qint64 tokenExpiresAt() const { return m_tokenExpiresAt; }

    bool isLoggedIn() const { return !m_token.isEmpty(); }
    bool isLoading() const { return m_isLoading; }
    bool isInitializing() const { return m_isInitializing; }
    QString userEmail() const { return m_userEmail; }
    double userBalance() const { return m_userBalance; }
    double userGiftAmount() const { return m_userGiftAmount; }
    QString userReferCode() const { return m_userReferCode; }
    RegistrationState registrationState() const
    {
        return static_cast<RegistrationState>(m_registration.step());
    }
    PasswordResetState passwordResetState() const
    {
        return static_cast<PasswordResetState>(m_passwordReset.step());
    }

    Q_INVOKABLE bool login(const QString &email, const QString &password);
    Q_INVOKABLE void logout();
    Q_INVOKABLE void sendVerificationCode(const QString &email);
    Q_INVOKABLE void verifyCode(const QString &email, const QString &code);
    Q_INVOKABLE void registerAccount(
        const QString &email, const QString &password, const QString &inviteCode = QString());
    Q_INVOKABLE void resetRegistrationState();
    Q_INVOKABLE void sendPasswordResetCode(const QString &email);
    Q_INVOKABLE void verifyPasswordResetCode(const QString &email, const QString &code);
    Q_INVOKABLE void resetPassword(const QString &email, const QString &password);
    Q_INVOKABLE void resetPasswordResetState();
    // Restores the stored session at start; ends with sessionRestored() or sessionExpired().
    Q_INVOKABLE void initializeSession();
    // Refreshes the account figures, renewing an expired or refused token with the saved
    // password. A refusal only yields false: the session and the stored credentials stay.
    Q_INVOKABLE bool validateToken();
    // For a handler whose request was refused for authentication, with the token that request
    // carried. True when the token has meanwhile been renewed (by another caller or now with the
    // saved password); never signs out.
    Q_INVOKABLE bool recoverFromAuthFailure(const QString &failedToken = QString());

    // Erases the stored session (INI, credential store, older builds' copies); the session in
    // memory stays as it is.
    void clearCredentials();

signals:
    void isLoggedInChanged();
    void isLoadingChanged();
    void isInitializingChanged();
    void userEmailChanged();
    void registrationStateChanged();
    void loginFailed(QString error);
    void loginSucceeded();
    void verificationCodeSent();
    void verificationCodeFailed(QString error);
    void codeVerified();
    void codeVerificationFailed(QString error);
    void registrationSucceeded();
    void registrationFailed(QString error);
    void sessionRestored();
    void sessionExpired();
    void tokenValidationFailed(QString error);
    void userBalanceChanged();
    void userGiftAmountChanged();
    void userReferCodeChanged();
    void passwordResetStateChanged();
    void passwordResetCodeSent();
    void passwordResetCodeFailed(QString error);
    void passwordResetCodeVerified();
    void passwordResetCodeVerificationFailed(QString error);
    void passwordResetSucceeded();
    void passwordResetFailed(QString error);

private:
    void setAuthToken(const QString &token);
    bool validateCurrentToken(bool *authFailed = nullptr);
    bool reauthenticateWithSavedPassword(bool *rejected = nullptr);
    void saveCredentials();
    void loadCredentials();
    void resetSessionState();

    void setLoading(bool loading);
    // Emits `signal` with the error of a failed flow step.
    EmailCodeFlow::Report report(void (AuthHandler::*signal)(QString error));
    // The two ends of initializeSession() once a token has been looked at.
    void finishSessionRestored();
    // The server gave no verdict: the cached session stays signed in.
    void finishSessionUnavailable();
    void finishSessionExpired();
    bool tokenExpired() const;

    static QList<QPair<QByteArray, QByteArray>> clientHeaders();

    QString m_token;
    qint64 m_tokenExpiresAt = 0;
    QString m_userEmail;
    QString m_savedPassword;
    bool m_isLoading = false;
    bool m_isInitializing = false;
    double m_userBalance = 0.0;
    double m_userGiftAmount = 0.0;
    QString m_userReferCode;
    EmailCodeFlow m_registration;
    EmailCodeFlow m_passwordReset;
};
