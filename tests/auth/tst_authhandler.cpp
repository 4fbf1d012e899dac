// The session against the development panel over HTTPS: what each path leaves signed in and on
// disk, and what it asks the panel.
#include "network/deployment.h"
#include "panel/authhandler.h"
#include "panelsuite.h"

#include <QDateTime>
#include <QFile>
#include <QSettings>

namespace {

const QString kWrong = QStringLiteral("wrong-password-1");
const QString kLogin = QStringLiteral("/v1/auth/login");
const QString kUserInfo = QStringLiteral("/v1/public/user/info");
const QString kRegister = QStringLiteral("/v1/auth/register");
const QString kOwn = QStringLiteral("qivro");

using State = AuthHandler::RegistrationState;
using ResetState = AuthHandler::PasswordResetState;

QSettings settingsOf(const QString &organisation)
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, organisation,
        QCoreApplication::applicationName());
}

QVariantMap storedAuth(const QString &organisation = kOwn)
{
    QSettings settings = settingsOf(organisation);
    settings.beginGroup(QStringLiteral("Auth"));
    QVariantMap stored;
    for (const QString &key : settings.childKeys())
        stored.insert(key, settings.value(key));
    return stored;
}

void storeAuth(const QVariantMap &values, const QString &organisation = kOwn)
{
    QSettings settings = settingsOf(organisation);
    settings.beginGroup(QStringLiteral("Auth"));
    settings.remove(QString());
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

QString expiredToken()
{
    const QByteArray payload
        = QJsonDocument(QJsonObject {{"exp", QDateTime::currentSecsSinceEpoch() - 60}})
              .toJson(QJsonDocument::Compact)
              .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return "eyJhbGciOiJIUzI1NiJ9." + QString::fromLatin1(payload) + ".c2ln";
}

} // namespace

class AuthHandlerTest : public PanelSuite
{
    Q_OBJECT

private slots:
    void init();
    void initializeSession_data();
    void initializeSession();
    void recoverFromAuthFailure();
    void loginFailures_data();
    void loginFailures();
    void registration();
    void passwordReset();
    void legacyCopies();
};

void AuthHandlerTest::init()
{
    PanelSuite::init();
    storeAuth({});
}

void AuthHandlerTest::initializeSession_data()
{
    QTest::addColumn<QString>("token"); // what is stored: none, expired, valid, revoked
    QTest::addColumn<QString>("password");
    // "info" or "login", then a status, a body kind or "msg:<text>", once each.
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("restored");
    QTest::addColumn<QString>("disk"); // kept, renewed, empty
    QTest::addColumn<int>("logins");

    auto row = [](const char *name, const char *token, const QString &password,
                   const QStringList &faults, bool restored, const char *disk, int logins) {
        QTest::newRow(name) << token << password << faults << restored << disk << logins;
    };
    const QStringList none;
    row("no token, saved password", "none", kPassword, none, true, "renewed", 1);
    row("no token, login 500", "none", kPassword, {"login 500"}, false, "kept", 1);
    row("no token, no password", "none", "", none, false, "kept", 0);
    row("expired, login HTTP 401", "expired", kPassword, {"login 401"}, false, "empty", 1);
    row("expired, no password", "expired", "", none, false, "empty", 0);
    row("valid", "valid", kPassword, none, true, "kept", 0);
    row("revoked, renewed", "revoked", kPassword, none, true, "renewed", 1);
    row("revoked, password refused", "revoked", kWrong, none, false, "empty", 1);
    row("revoked, login 500", "revoked", kPassword, {"login 500"}, true, "kept", 1);
    row("validation HTTP 401", "valid", kPassword, {"info 401"}, true, "renewed", 1);
    // A refusal with its msg turned into "success": no token, no verdict either.
    row("validation 401, login garbled success", "valid", kWrong, {"info 401", "login msg:success"},
        true, "kept", 1);
    row("validation HTTP 503", "valid", kPassword, {"info 503"}, true, "kept", 0);
    row("validation asks to log in", "valid", kPassword, {"info msg:请先登录"}, true, "renewed", 1);
}

void AuthHandlerTest::initializeSession()
{
    QFETCH(QString, token);
    QFETCH(QString, password);
    QFETCH(QStringList, faults);
    QFETCH(bool, restored);
    QFETCH(QString, disk);
    QFETCH(int, logins);

    QJsonObject user;
    const QString email = newAccount(1234, 250, &user);
    QVariantMap stored {{"email", email}, {"tokenExpiresAt", "0"}}; // 0: read from the token
    if (token == QLatin1String("expired"))
        stored.insert("token", expiredToken());
    else if (token != QLatin1String("none"))
        stored.insert("token", QString::fromUtf8(m_panel.login(email, kPassword)));
    if (token == QLatin1String("revoked"))
        QVERIFY(m_panel.revokeTokens(email));
    if (!password.isEmpty())
        stored.insert("password", password);
    storeAuth(stored);
    QVERIFY(m_panel.resetCounters());
    bool infoFaulty = false;
    for (const QString &fault : faults) {
        const QString where = fault.section(QLatin1Char(' '), 0, 0);
        const QString kind = fault.section(QLatin1Char(' '), 1);
        infoFaulty = infoFaulty || where == QLatin1String("info");
        QVERIFY(m_panel.setFault(where == QLatin1String("info") ? kUserInfo : kLogin, kind, 1));
    }

    AuthHandler auth;
    QSignalSpy restoredSpy(&auth, &AuthHandler::sessionRestored);
    QSignalSpy expiredSpy(&auth, &AuthHandler::sessionExpired);
    auth.initializeSession();

    QCOMPARE(restoredSpy.count(), restored ? 1 : 0);
    QCOMPARE(expiredSpy.count(), restored ? 0 : 1);
    QVERIFY(!auth.isInitializing());
    QCOMPARE(auth.isLoggedIn(), restored);
    QCOMPARE(m_panel.requestCount(kLogin), logins);
    // The figures come with a validation that went through.
    if (restored && !infoFaulty && (faults.isEmpty() || disk == QLatin1String("renewed"))) {
        QCOMPARE(auth.userBalance() + auth.userGiftAmount(), 12.34 + 2.5);
        QCOMPARE(auth.userReferCode(), user["refer_code"].toString());
    }

    const QVariantMap now = storedAuth();
    if (disk == QLatin1String("kept")) {
        QCOMPARE(now, stored);
        if (restored)
            QCOMPARE(auth.authToken(), stored.value("token").toString());
    } else if (disk == QLatin1String("renewed")) {
        QCOMPARE(now.value("token").toString(), auth.authToken());
        QCOMPARE(now.value("tokenExpiresAt").toLongLong(), auth.tokenExpiresAt());
        QCOMPARE(now.value("password").toString(), kPassword);
    } else {
        QCOMPARE(now, QVariantMap());
    }
}

void AuthHandlerTest::recoverFromAuthFailure()
{
    const QString email = newAccount();
    AuthHandler auth;
    QVERIFY(auth.login(email, kPassword));
    const QString first = auth.authToken();
    QVERIFY(m_panel.resetCounters());

    // Another caller already renewed: nothing to send.
    QVERIFY(auth.recoverFromAuthFailure(QStringLiteral("an-older-token")));
    QCOMPARE(m_panel.requestCount(kLogin), 0);

    QVERIFY(m_panel.revokeTokens(email));
    QVERIFY(auth.recoverFromAuthFailure(first));
    QCOMPARE(m_panel.requestCount(kLogin), 1);
    const QString renewed = auth.authToken();
    QVERIFY(renewed != first);
    QCOMPARE(storedAuth().value("token").toString(), renewed);

    // Refused later on: false, and the session and the disk stay as they were.
    TestPanel::Fault refused;
    refused.msg = QStringLiteral("Incorrect email or password");
    QVERIFY(m_panel.setFault(kLogin, refused));
    QVERIFY(!auth.recoverFromAuthFailure(renewed));
    QCOMPARE(auth.authToken(), renewed);
    QCOMPARE(storedAuth().value("password").toString(), kPassword);
}

void AuthHandlerTest::loginFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("msg"); // replaces the reply's msg when not null
    QTest::addColumn<QString>("expected");

    QTest::newRow("wrong password") << 0 << QString() << "Incorrect email or password";
    QTest::newRow("Success is not success") << 0 << "Success"
                                            << "Success";
    QTest::newRow("HTTP 401") << 401 << QString() << "Invalid email or password";
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
    const bool faulty = status != 0 || !msg.isNull();
    if (faulty)
        QVERIFY(m_panel.setFault(kLogin, fault));

    AuthHandler auth;
    QSignalSpy failed(&auth, &AuthHandler::loginFailed);
    QVERIFY(!auth.login(email, faulty ? kPassword : kWrong));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().first().toString(), expected);
    QCOMPARE(storedAuth(), QVariantMap());
}

// Refused steps go back one step and stay retryable; the account is made once a code is verified.
void AuthHandlerTest::registration()
{
    const QString email = QStringLiteral("new@example.test");
    AuthHandler auth;
    QList<State> states;
    connect(&auth, &AuthHandler::registrationStateChanged, this,
        [&] { states.append(auth.registrationState()); });
    QSignalSpy sendFailed(&auth, &AuthHandler::verificationCodeFailed);
    QSignalSpy verifyFailed(&auth, &AuthHandler::codeVerificationFailed);
    QSignalSpy registerFailed(&auth, &AuthHandler::registrationFailed);
    QSignalSpy succeeded(&auth, &AuthHandler::registrationSucceeded);

    QVERIFY(m_panel.setFault(QStringLiteral("/v1/common/send_code"), QStringLiteral("502"), 1));
    auth.sendVerificationCode(email);
    QCOMPARE(sendFailed.count(), 1);
    QVERIFY(!auth.isLoading());
    auth.sendVerificationCode(email);
    const QString code = m_panel.latestCode(email, 1);
    QVERIFY(!code.isEmpty());

    // Without a verified code an empty one goes out.
    auth.registerAccount(email, kPassword, QStringLiteral("NOSUCHCODE"));
    QCOMPARE(registerFailed.last().first().toString(), QStringLiteral("Verification code error"));
    const QJsonObject body = sentBody(kRegister);
    QCOMPARE(body.value("code").toString(), QString());
    QCOMPARE(body.value("invite").toString(), QStringLiteral("NOSUCHCODE"));
    QCOMPARE(storedAuth(), QVariantMap());

    // A wrong code is answered with status false.
    auth.verifyCode(email, code == QLatin1String("000000") ? "111111" : "000000");
    QCOMPARE(verifyFailed.last().first().toString(), QStringLiteral("Invalid code"));
    auth.verifyCode(email, code);
    auth.registerAccount(email, kPassword, QString());

    const QList<State> expected {State::SendingCode, State::Idle, State::SendingCode,
        State::CodeSent, State::Registering, State::CodeVerified, State::VerifyingCode,
        State::CodeSent, State::VerifyingCode, State::CodeVerified, State::Registering,
        State::Completed};
    QCOMPARE(states, expected);
    QCOMPARE(succeeded.count(), 1);
    QVERIFY(auth.isLoggedIn());
    QCOMPARE(storedAuth().value("token").toString(), auth.authToken());

    auth.logout();
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
    QSignalSpy resetFailed(&auth, &AuthHandler::passwordResetFailed);

    auto reset = [&](const QString &address, const QString &password) {
        auth.resetPasswordResetState();
        auth.sendPasswordResetCode(address);
        QCOMPARE(auth.passwordResetState(), ResetState::CodeSent);
        auth.verifyPasswordResetCode(address, m_panel.latestCode(address, 2));
        QCOMPARE(auth.passwordResetState(), ResetState::CodeVerified);
        auth.resetPassword(address, password);
    };

    // Another account's reset leaves the stored credentials alone.
    reset(other, QStringLiteral("other-new-pass-1"));
    QCOMPARE(succeeded.count(), 1);
    QCOMPARE(auth.passwordResetState(), ResetState::Completed);
    QCOMPARE(storedAuth().value("password").toString(), kPassword);

    // The panel's refusal goes one step back; our own reset rewrites the saved password.
    reset(email, QStringLiteral("short"));
    QCOMPARE(resetFailed.count(), 1);
    QCOMPARE(auth.passwordResetState(), ResetState::CodeVerified);
    auth.resetPassword(email, QStringLiteral("brand-new-pass-2"));
    QCOMPARE(succeeded.count(), 2);
    QCOMPARE(storedAuth().value("password").toString(), QStringLiteral("brand-new-pass-2"));
    QCOMPARE(auth.authToken(), token);

    // So the next renewal signs in with it.
    QVERIFY(m_panel.revokeTokens(email));
    QVERIFY(auth.recoverFromAuthFailure(token));
}

void AuthHandlerTest::legacyCopies()
{
    const QString legacy = QStringLiteral("com.qivro.app");
    const QVariantMap credentials {{"token", "old"}, {"password", "old-password"}};
    storeAuth(credentials, legacy);
    settingsOf(legacy).setValue(QStringLiteral("Other/kept"), true);
    storeAuth(credentials);
    QCoreApplication::setOrganizationDomain(QStringLiteral("legacy.example"));

    clearLegacyAuthCredentialCopies();
    QCOMPARE(storedAuth(legacy), QVariantMap());
    QVERIFY(settingsOf(legacy).value(QStringLiteral("Other/kept")).toBool());
    QCOMPARE(storedAuth(), credentials);
    for (const QString &organisation : {Deployment::webDomain(), QStringLiteral("legacy.example")})
        QVERIFY2(!QFile::exists(settingsOf(organisation).fileName()), qPrintable(organisation));

    // Running as one of the candidate organisations leaves its own file alone.
    storeAuth(credentials, legacy);
    QCoreApplication::setOrganizationName(legacy);
    clearLegacyAuthCredentialCopies();
    QCoreApplication::setOrganizationName(kOwn);
    QCoreApplication::setOrganizationDomain(QString());
    QCOMPARE(storedAuth(legacy), credentials);
}

QTEST_GUILESS_MAIN(AuthHandlerTest)
#include "tst_authhandler.moc"
