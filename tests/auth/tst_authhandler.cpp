// The session against the development panel over HTTPS: restoring at start, renewal, sign-in,
// registration and password reset, and what each leaves in the settings file.
#include "apiendpoints.h"
#include "authhandler.h"
#include "deployment.h"
#include "testpanel.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kPassword = QStringLiteral("correct-horse-1");
const QString kLogin = QStringLiteral("/v1/auth/login");
const QString kUserInfo = QStringLiteral("/v1/public/user/info");
const QString kSendCode = QStringLiteral("/v1/common/send_code");
const QString kCheckCode = QStringLiteral("/v1/common/check_verification_code");
const QString kRegister = QStringLiteral("/v1/auth/register");

using State = AuthHandler::RegistrationState;
using ResetState = AuthHandler::PasswordResetState;

QSettings settingsOf(const QString &organisation = QStringLiteral("qivro"))
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, organisation,
        QCoreApplication::applicationName());
}

// The "Auth" group as it is on disk.
QVariantMap storedAuth(const QString &organisation = QStringLiteral("qivro"))
{
    QSettings settings = settingsOf(organisation);
    settings.beginGroup(QStringLiteral("Auth"));
    QVariantMap stored;
    for (const QString &key : settings.childKeys())
        stored.insert(key, settings.value(key));
    return stored;
}

void storeAuth(const QVariantMap &values, const QString &organisation = QStringLiteral("qivro"))
{
    QSettings settings = settingsOf(organisation);
    settings.beginGroup(QStringLiteral("Auth"));
    settings.remove(QString());
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    settings.endGroup();
    settings.sync();
}

// An unsigned token with the given expiry; the client never checks signatures.
QString tokenExpiringAt(qint64 exp)
{
    const QByteArray payload
        = QJsonDocument(QJsonObject {{QStringLiteral("exp"), exp}})
              .toJson(QJsonDocument::Compact)
              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QStringLiteral("eyJhbGciOiJIUzI1NiJ9.") + QString::fromLatin1(payload)
        + QStringLiteral(".c2ln");
}

TestPanel::Fault dropped()
{
    TestPanel::Fault fault;
    fault.dropConnection = true;
    return fault;
}

// How initializeSession() ended, and that it ended exactly once.
struct SessionOutcome
{
    bool restored = false;
    bool expired = false;
    int validationFailures = 0;
};

SessionOutcome initialize(AuthHandler &auth)
{
    QSignalSpy restored(&auth, &AuthHandler::sessionRestored);
    QSignalSpy expired(&auth, &AuthHandler::sessionExpired);
    QSignalSpy initializing(&auth, &AuthHandler::isInitializingChanged);
    QSignalSpy failures(&auth, &AuthHandler::tokenValidationFailed);
    auth.initializeSession();
    [&] {
        QCOMPARE(restored.count() + expired.count(), 1);
        QCOMPARE(initializing.count(), 2);
        QVERIFY(!auth.isInitializing());
    }();
    return {restored.count() == 1, expired.count() == 1, int(failures.count())};
}

} // namespace

class AuthHandlerTest : public QObject
{
    Q_OBJECT

private:
    TestPanel m_panel;
    QTemporaryDir m_settingsDir;
    int m_accounts = 0;

    QString newAccount(qint64 balance = 0, qint64 giftAmount = 0, QJsonObject *created = nullptr)
    {
        const QString email = QStringLiteral("user%1@example.test").arg(++m_accounts);
        const QJsonObject user = m_panel.createUser(email, kPassword, balance, giftAmount);
        if (created)
            *created = user;
        return email;
    }

    QString freshAddress() { return QStringLiteral("new%1@example.test").arg(++m_accounts); }

private slots:
    void initTestCase();
    void init();

    void noStoredToken_data();
    void noStoredToken();
    void expiredStoredToken_data();
    void expiredStoredToken();
    void validTokenRestoresFigures();
    void unreachableServerKeepsSession();
    void refusedTokenAtStart_data();
    void refusedTokenAtStart();
    void recoverFromAuthFailure();

    void loginFailures_data();
    void loginFailures();
    void loginWritesCredentialsBeforeSignalling();
    void registration();
    void registrationRefusals();
    void passwordReset();
    void legacyCopies();
};

void AuthHandlerTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setApplicationName(QStringLiteral("qivro"));
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());

    QVERIFY2(m_panel.start(), qPrintable(m_panel.lastError()));
    m_panel.exportClientEnvironment();
    ApiEndpoints::reload();
    QVERIFY(Deployment::trustExtraCaCertificate());
}

void AuthHandlerTest::init()
{
    QVERIFY2(m_panel.reset(), qPrintable(m_panel.lastError()));
    storeAuth({});
}

void AuthHandlerTest::noStoredToken_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<bool>("passwordKept");

    QTest::newRow("saved password signs in") << kPassword << false << true << true;
    QTest::newRow("saved password refused") << "wrong-password-1" << false << false << false;
    QTest::newRow("server unreachable") << kPassword << true << false << true;
    QTest::newRow("nothing saved") << QString() << false << false << false;
}

void AuthHandlerTest::noStoredToken()
{
    QFETCH(QString, password);
    QFETCH(bool, serverDown);
    QFETCH(bool, restored);
    QFETCH(bool, passwordKept);

    const QString email = newAccount();
    QVariantMap stored {{QStringLiteral("email"), email}};
    if (!password.isEmpty())
        stored.insert(QStringLiteral("password"), password);
    storeAuth(stored);
    if (serverDown)
        QVERIFY(m_panel.setFault(kLogin, dropped()));

    AuthHandler auth;
    const SessionOutcome outcome = initialize(auth);
    QCOMPARE(outcome.restored, restored);
    QCOMPARE(auth.isLoggedIn(), restored);
    QCOMPARE(storedAuth().contains(QStringLiteral("password")), passwordKept);
    if (restored) {
        QCOMPARE(storedAuth().value(QStringLiteral("token")).toString(), auth.authToken());
        QCOMPARE(auth.userEmail(), email);
    }
    if (password.isEmpty())
        QCOMPARE(m_panel.requestCount(kLogin), 0);
}

void AuthHandlerTest::expiredStoredToken_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<bool>("diskKept");

    QTest::newRow("renewed with saved password") << kPassword << false << true << false;
    QTest::newRow("network failure keeps the disk") << kPassword << true << false << true;
    QTest::newRow("saved password refused") << "wrong-password-1" << false << false << false;
    QTest::newRow("no saved password") << QString() << false << false << false;
}

void AuthHandlerTest::expiredStoredToken()
{
    QFETCH(QString, password);
    QFETCH(bool, serverDown);
    QFETCH(bool, restored);
    QFETCH(bool, diskKept);

    const QString email = newAccount();
    const QString expiredToken = tokenExpiringAt(QDateTime::currentSecsSinceEpoch() - 60);
    QVariantMap stored {{QStringLiteral("token"), expiredToken}, {QStringLiteral("email"), email},
        {QStringLiteral("tokenExpiresAt"), 0}};
    if (!password.isEmpty())
        stored.insert(QStringLiteral("password"), password);
    storeAuth(stored);
    if (serverDown)
        QVERIFY(m_panel.setFault(kLogin, dropped()));

    AuthHandler auth;
    QSignalSpy loggedIn(&auth, &AuthHandler::isLoggedInChanged);
    const SessionOutcome outcome = initialize(auth);
    QCOMPARE(outcome.restored, restored);
    QCOMPARE(auth.isLoggedIn(), restored);
    QCOMPARE(loggedIn.count(), 1);
    // An expired token is never shown to the server; a renewed one is checked once more.
    QCOMPARE(m_panel.requestCount(kUserInfo), restored ? 2 : 0);

    const QVariantMap disk = storedAuth();
    if (restored) {
        QVERIFY(auth.authToken() != expiredToken);
        QCOMPARE(disk.value(QStringLiteral("token")).toString(), auth.authToken());
        QCOMPARE(disk.value(QStringLiteral("tokenExpiresAt")).toLongLong(), auth.tokenExpiresAt());
        QVERIFY(auth.tokenExpiresAt() > QDateTime::currentSecsSinceEpoch());
    } else if (diskKept) {
        QCOMPARE(auth.userEmail(), QString());
        QCOMPARE(disk.value(QStringLiteral("token")).toString(), expiredToken);
        QCOMPARE(disk.value(QStringLiteral("password")).toString(), password);
    } else {
        QCOMPARE(disk, QVariantMap());
    }
}

void AuthHandlerTest::validTokenRestoresFigures()
{
    QJsonObject created;
    const QString email = newAccount(1234, 250, &created);
    const QString token = QString::fromUtf8(m_panel.login(email, kPassword));
    QVERIFY(!token.isEmpty());
    // A stored expiry of 0 is read again from the token itself.
    storeAuth({{QStringLiteral("token"), token}, {QStringLiteral("email"), email},
        {QStringLiteral("tokenExpiresAt"), 0}});
    QVERIFY(m_panel.resetCounters());

    AuthHandler auth;
    QSignalSpy balance(&auth, &AuthHandler::userBalanceChanged);
    QVERIFY(initialize(auth).restored);
    QCOMPARE(auth.authToken(), token);
    QVERIFY(auth.tokenExpiresAt() > QDateTime::currentSecsSinceEpoch());
    QCOMPARE(auth.tokenExpiresAt(), jwtExpiresAt(token));
    QCOMPARE(auth.userBalance(), 12.34);
    QCOMPARE(auth.userGiftAmount(), 2.5);
    QCOMPARE(auth.userReferCode(), created.value(QStringLiteral("refer_code")).toString());
    QCOMPARE(balance.count(), 1);
    QCOMPARE(m_panel.requestCount(kLogin), 0);
}

void AuthHandlerTest::unreachableServerKeepsSession()
{
    const QString email = newAccount();
    const QString token = QString::fromUtf8(m_panel.login(email, kPassword));
    const QVariantMap stored {{QStringLiteral("token"), token}, {QStringLiteral("email"), email},
        {QStringLiteral("password"), kPassword},
        {QStringLiteral("tokenExpiresAt"), jwtExpiresAt(token)}};
    storeAuth(stored);
    QVERIFY(m_panel.resetCounters());
    QVERIFY(m_panel.setFault(kUserInfo, dropped()));

    AuthHandler auth;
    const SessionOutcome outcome = initialize(auth);
    QVERIFY(outcome.restored);
    QCOMPARE(outcome.validationFailures, 1);
    QVERIFY(auth.isLoggedIn());
    QCOMPARE(auth.authToken(), token);
    QCOMPARE(m_panel.requestCount(kLogin), 0);
    QCOMPARE(storedAuth().value(QStringLiteral("token")).toString(), token);
}

void AuthHandlerTest::refusedTokenAtStart_data()
{
    QTest::addColumn<QString>("fault"); // a faulty user-info reply, or "" for a revoked token
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("restored");

    QTest::newRow("revoked, wrong saved password") << "" << 0 << "wrong-password-1" << false;
    QTest::newRow("revoked, saved password renews") << "" << 0 << kPassword << true;
    QTest::newRow("revoked, no saved password") << "" << 0 << "" << false;
    QTest::newRow("HTTP 401") << "" << 401 << kPassword << true;
    QTest::newRow("reply not JSON") << "malformed" << 0 << kPassword << true;
    QTest::newRow("reply not an object") << "non-object" << 0 << kPassword << true;
    QTest::newRow("reply empty") << "empty" << 0 << kPassword << true;
}

void AuthHandlerTest::refusedTokenAtStart()
{
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QString, password);
    QFETCH(bool, restored);

    const QString email = newAccount();
    const QString token = QString::fromUtf8(m_panel.login(email, kPassword));
    QVariantMap stored {{QStringLiteral("token"), token}, {QStringLiteral("email"), email},
        {QStringLiteral("tokenExpiresAt"), jwtExpiresAt(token)}};
    if (!password.isEmpty())
        stored.insert(QStringLiteral("password"), password);
    storeAuth(stored);
    QVERIFY(m_panel.resetCounters());
    if (fault.isEmpty() && status == 0) {
        QVERIFY(m_panel.revokeTokens(email));
    } else {
        TestPanel::Fault once;
        once.body = fault;
        once.status = status;
        once.times = 1;
        QVERIFY(m_panel.setFault(kUserInfo, once));
    }

    AuthHandler auth;
    const SessionOutcome outcome = initialize(auth);
    QCOMPARE(outcome.restored, restored);
    QCOMPARE(outcome.validationFailures, 0);
    QCOMPARE(m_panel.requestCount(kLogin), password.isEmpty() ? 0 : 1);
    if (restored) {
        QVERIFY(auth.isLoggedIn());
        QCOMPARE(storedAuth().value(QStringLiteral("token")).toString(), auth.authToken());
        QCOMPARE(storedAuth().value(QStringLiteral("password")).toString(), kPassword);
    } else {
        QVERIFY(!auth.isLoggedIn());
        QCOMPARE(auth.userEmail(), QString());
        QCOMPARE(storedAuth(), QVariantMap());
    }
}

void AuthHandlerTest::recoverFromAuthFailure()
{
    // Nothing to go on: no token, no address, nothing sent.
    AuthHandler empty;
    QVERIFY(!empty.recoverFromAuthFailure());
    QCOMPARE(m_panel.requestCount(kLogin), 0);

    const QString email = newAccount();
    AuthHandler auth;
    QVERIFY(auth.login(email, kPassword));
    const QString first = auth.authToken();
    QVERIFY(m_panel.resetCounters());

    // Someone else already renewed: the caller just retries with the current token.
    QVERIFY(auth.recoverFromAuthFailure(QStringLiteral("an-older-token")));
    QCOMPARE(m_panel.requestCount(kLogin), 0);
    QCOMPARE(auth.authToken(), first);

    // The current token was refused: the saved password renews it.
    QVERIFY(m_panel.revokeTokens(email));
    QVERIFY(auth.recoverFromAuthFailure(first));
    QCOMPARE(m_panel.requestCount(kLogin), 1);
    const QString renewed = auth.authToken();
    QVERIFY(renewed != first);
    QCOMPARE(storedAuth().value(QStringLiteral("token")).toString(), renewed);

    // A refusal later on only says no: the session and the disk stay as they were.
    TestPanel::Fault refused;
    refused.msg = QStringLiteral("Incorrect email or password");
    QVERIFY(m_panel.setFault(kLogin, refused));
    QVERIFY(!auth.recoverFromAuthFailure(renewed));
    QCOMPARE(auth.authToken(), renewed);
    QCOMPARE(storedAuth().value(QStringLiteral("token")).toString(), renewed);
    QCOMPARE(storedAuth().value(QStringLiteral("password")).toString(), kPassword);
}

void AuthHandlerTest::loginFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("msg"); // replaces the reply's msg when not null
    QTest::addColumn<QString>("expected");

    QTest::newRow("refused by the panel") << 0 << QString() << "Incorrect email or password";
    QTest::newRow("empty msg") << 0 << ""
                               << "Login failed.";
    QTest::newRow("Success is not success") << 0 << "Success"
                                            << "Success";
    QTest::newRow("HTTP 401") << 401 << QString() << "Invalid email or password";
    QTest::newRow("HTTP 403") << 403 << QString() << "Invalid email or password";
    QTest::newRow("HTTP 502") << 502 << QString() << "Server error, please try again later";
}

void AuthHandlerTest::loginFailures()
{
    QFETCH(int, status);
    QFETCH(QString, msg);
    QFETCH(QString, expected);

    const QString email = newAccount();
    TestPanel::Fault fault;
    fault.status = status;
    if (!msg.isNull())
        fault.msg = msg;
    if (status != 0 || !msg.isNull())
        QVERIFY(m_panel.setFault(kLogin, fault));

    AuthHandler auth;
    QSignalSpy failed(&auth, &AuthHandler::loginFailed);
    QSignalSpy loading(&auth, &AuthHandler::isLoadingChanged);
    // The panel refuses the wrong password on its own; the faults answer instead of it.
    const QString password
        = status == 0 && msg.isNull() ? QStringLiteral("wrong-password-1") : kPassword;
    QVERIFY(!auth.login(email, password));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), expected);
    QCOMPARE(loading.count(), 2);
    QVERIFY(!auth.isLoading());
    QVERIFY(!auth.isLoggedIn());
    QCOMPARE(storedAuth(), QVariantMap());
}

void AuthHandlerTest::loginWritesCredentialsBeforeSignalling()
{
    QJsonObject created;
    const QString email = newAccount(500, 0, &created);
    AuthHandler auth;
    QVariantMap onDisk;
    connect(&auth, &AuthHandler::loginSucceeded, this, [&] { onDisk = storedAuth(); });
    QSignalSpy loggedIn(&auth, &AuthHandler::isLoggedInChanged);

    QVERIFY(auth.login(email, kPassword));
    QCOMPARE(loggedIn.count(), 1);
    QCOMPARE(onDisk.value(QStringLiteral("token")).toString(), auth.authToken());
    QCOMPARE(onDisk.value(QStringLiteral("email")).toString(), email);
    QCOMPARE(onDisk.value(QStringLiteral("password")).toString(), kPassword);
    QCOMPARE(onDisk.value(QStringLiteral("tokenExpiresAt")).toLongLong(), auth.tokenExpiresAt());
    QCOMPARE(auth.userBalance(), 5.0);
    QCOMPARE(auth.userReferCode(), created.value(QStringLiteral("refer_code")).toString());

    const QJsonObject sent = m_panel.lastRequest(kLogin);
    const QJsonObject headers = sent.value(QStringLiteral("headers")).toObject();
    QCOMPARE(headers.value(QStringLiteral("login-type")).toString(), QStringLiteral("email"));
    QVERIFY(headers.value(QStringLiteral("user-agent")).toString().startsWith(u"qivro/"));
    QVERIFY(headers.contains(QStringLiteral("x-original-forwarded-for")));

    // Signing out forgets everything here and on disk, without asking the server.
    QVERIFY(m_panel.resetCounters());
    auth.logout();
    QVERIFY(!auth.isLoggedIn());
    QCOMPARE(auth.userBalance(), 0.0);
    QCOMPARE(storedAuth(), QVariantMap());
    QCOMPARE(loggedIn.count(), 2);
    QCOMPARE(m_panel.requests().size(), 0);
}

void AuthHandlerTest::registration()
{
    const QString email = freshAddress();
    AuthHandler auth;
    QList<State> states;
    connect(&auth, &AuthHandler::registrationStateChanged, this,
        [&] { states.append(auth.registrationState()); });
    QSignalSpy sent(&auth, &AuthHandler::verificationCodeSent);
    QSignalSpy verified(&auth, &AuthHandler::codeVerified);
    QSignalSpy verifyFailed(&auth, &AuthHandler::codeVerificationFailed);
    QSignalSpy succeeded(&auth, &AuthHandler::registrationSucceeded);

    auth.sendVerificationCode(email);
    QCOMPARE(sent.count(), 1);
    const QString code = m_panel.latestCode(email, 1);
    QVERIFY(!code.isEmpty());

    // The panel answers a wrong code with status false: back to CodeSent, the fallback text.
    auth.verifyCode(email, code == QLatin1String("000000") ? "111111" : "000000");
    QCOMPARE(verifyFailed.count(), 1);
    QCOMPARE(verifyFailed.last().first().toString(), QStringLiteral("Invalid code"));
    QCOMPARE(auth.registrationState(), State::CodeSent);

    auth.verifyCode(email, code);
    QCOMPARE(verified.count(), 1);
    QCOMPARE(auth.registrationState(), State::CodeVerified);

    auth.registerAccount(email, kPassword, QString());
    QCOMPARE(succeeded.count(), 1);
    QCOMPARE(auth.registrationState(), State::Completed);
    QVERIFY(auth.isLoggedIn());
    QCOMPARE(auth.userEmail(), email);
    QCOMPARE(storedAuth().value(QStringLiteral("password")).toString(), kPassword);
    QCOMPARE(storedAuth().value(QStringLiteral("token")).toString(), auth.authToken());

    const QJsonObject body = QJsonDocument::fromJson(
        m_panel.lastRequest(kRegister).value(QStringLiteral("body")).toString().toUtf8())
                                 .object();
    QCOMPARE(body.value(QStringLiteral("code")).toString(), code);
    QVERIFY(!body.contains(QStringLiteral("invite")));

    const QList<State> expected {State::SendingCode, State::CodeSent, State::VerifyingCode,
        State::CodeSent, State::VerifyingCode, State::CodeVerified, State::Registering,
        State::Completed};
    QCOMPARE(states, expected);

    auth.logout();
    QCOMPARE(auth.registrationState(), State::Idle);
}

void AuthHandlerTest::registrationRefusals()
{
    AuthHandler auth;
    QSignalSpy sendFailed(&auth, &AuthHandler::verificationCodeFailed);
    QSignalSpy verifyFailed(&auth, &AuthHandler::codeVerificationFailed);
    QSignalSpy registerFailed(&auth, &AuthHandler::registrationFailed);

    // Transport failures carry the error's own text and go one state back.
    TestPanel::Fault serverError;
    serverError.status = 502;
    serverError.times = 1;
    QVERIFY(m_panel.setFault(kSendCode, serverError));
    auth.sendVerificationCode(freshAddress());
    QCOMPARE(sendFailed.count(), 1);
    QVERIFY(!sendFailed.last().first().toString().isEmpty());
    QCOMPARE(auth.registrationState(), State::Idle);
    QVERIFY(!auth.isLoading());

    // The panel's own refusal text is passed on.
    const QString taken = newAccount();
    auth.sendVerificationCode(taken);
    QCOMPARE(
        sendFailed.last().first().toString(), QStringLiteral("This email is already registered"));

    // An empty msg on verification is replaced by the fallback.
    const QString email = freshAddress();
    auth.sendVerificationCode(email);
    QCOMPARE(auth.registrationState(), State::CodeSent);
    TestPanel::Fault emptyMsg;
    emptyMsg.msg = QString();
    emptyMsg.times = 1;
    QVERIFY(m_panel.setFault(kCheckCode, emptyMsg));
    auth.verifyCode(email, m_panel.latestCode(email, 1));
    QCOMPARE(verifyFailed.last().first().toString(), QStringLiteral("Invalid code"));
    QCOMPARE(auth.registrationState(), State::CodeSent);

    // No verified code: an empty "code" goes out; an invite code goes out as given.
    auth.registerAccount(email, kPassword, QStringLiteral("NOSUCHCODE"));
    QCOMPARE(registerFailed.count(), 1);
    QCOMPARE(registerFailed.last().first().toString(), QStringLiteral("Verification code error"));
    QCOMPARE(auth.registrationState(), State::CodeVerified);
    const QJsonObject body = QJsonDocument::fromJson(
        m_panel.lastRequest(kRegister).value(QStringLiteral("body")).toString().toUtf8())
                                 .object();
    QVERIFY(body.contains(QStringLiteral("code")));
    QCOMPARE(body.value(QStringLiteral("code")).toString(), QString());
    QCOMPARE(body.value(QStringLiteral("invite")).toString(), QStringLiteral("NOSUCHCODE"));
    QVERIFY(!auth.isLoggedIn());
    QCOMPARE(storedAuth(), QVariantMap());

    // Starting over forgets the state.
    auth.resetRegistrationState();
    QCOMPARE(auth.registrationState(), State::Idle);
}

void AuthHandlerTest::passwordReset()
{
    const QString email = newAccount();
    const QString other = newAccount();
    AuthHandler auth;
    QVERIFY(auth.login(email, kPassword));
    const QString token = auth.authToken();
    QSignalSpy succeeded(&auth, &AuthHandler::passwordResetSucceeded);
    QSignalSpy verifyFailed(&auth, &AuthHandler::passwordResetCodeVerificationFailed);
    QSignalSpy resetFailed(&auth, &AuthHandler::passwordResetFailed);

    // Another account's reset leaves our stored credentials alone.
    auth.sendPasswordResetCode(other);
    QCOMPARE(auth.passwordResetState(), ResetState::CodeSent);
    auth.verifyPasswordResetCode(other, m_panel.latestCode(other, 2));
    QCOMPARE(auth.passwordResetState(), ResetState::CodeVerified);
    auth.resetPassword(other, QStringLiteral("other-new-pass-1"));
    QCOMPARE(succeeded.count(), 1);
    QCOMPARE(auth.passwordResetState(), ResetState::Completed);
    QCOMPARE(storedAuth().value(QStringLiteral("password")).toString(), kPassword);
    QVERIFY(!m_panel.login(other, QStringLiteral("other-new-pass-1")).isEmpty());

    // Our own reset: a refusal goes one step back, then success rewrites the saved password.
    auth.resetPasswordResetState();
    QCOMPARE(auth.passwordResetState(), ResetState::Idle);
    const QString newPassword = QStringLiteral("brand-new-pass-2");
    auth.sendPasswordResetCode(email);
    const QString code = m_panel.latestCode(email, 2);
    auth.verifyPasswordResetCode(email, code == QLatin1String("000000") ? "111111" : "000000");
    QCOMPARE(verifyFailed.count(), 1);
    QCOMPARE(auth.passwordResetState(), ResetState::CodeSent);
    auth.verifyPasswordResetCode(email, code);
    auth.resetPassword(email, QStringLiteral("short"));
    QCOMPARE(resetFailed.count(), 1);
    QCOMPARE(auth.passwordResetState(), ResetState::CodeVerified);
    auth.resetPassword(email, newPassword);
    QCOMPARE(succeeded.count(), 2);
    QCOMPARE(storedAuth().value(QStringLiteral("password")).toString(), newPassword);
    QCOMPARE(auth.authToken(), token);

    // The next automatic renewal signs in with the new password.
    QVERIFY(m_panel.revokeTokens(email));
    QVERIFY(auth.recoverFromAuthFailure(token));
    QVERIFY(auth.authToken() != token);
}

void AuthHandlerTest::legacyCopies()
{
    const QString webDomain = Deployment::webDomain();
    const QString legacyPath = QStringLiteral("com.qivro.app");
    const QVariantMap credentials {{QStringLiteral("token"), QStringLiteral("old")},
        {QStringLiteral("password"), QStringLiteral("old-password")}};
    storeAuth(credentials, legacyPath);
    {
        QSettings legacy = settingsOf(legacyPath);
        legacy.setValue(QStringLiteral("Other/kept"), true);
    }
    storeAuth(credentials); // the current organisation's own
    QCoreApplication::setOrganizationDomain(QStringLiteral("legacy.example"));

    clearLegacyAuthCredentialCopies();
    QCOMPARE(storedAuth(legacyPath), QVariantMap());
    QVERIFY(settingsOf(legacyPath).value(QStringLiteral("Other/kept")).toBool());
    QCOMPARE(storedAuth(), credentials);
    for (const QString &organisation : {webDomain, QStringLiteral("legacy.example")})
        QVERIFY2(!QFile::exists(settingsOf(organisation).fileName()), qPrintable(organisation));

    // Running as one of the candidate organisations leaves its own file alone.
    storeAuth(credentials, legacyPath);
    QCoreApplication::setOrganizationName(legacyPath);
    clearLegacyAuthCredentialCopies();
    QCoreApplication::setOrganizationName(QStringLiteral("qivro"));
    QCoreApplication::setOrganizationDomain(QString());
    QCOMPARE(storedAuth(legacyPath), credentials);
    QCOMPARE(storedAuth(), credentials);
}

QTEST_GUILESS_MAIN(AuthHandlerTest)
#include "tst_authhandler.moc"
