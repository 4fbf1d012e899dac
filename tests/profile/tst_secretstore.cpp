// Where secrets end up: in the credential store where one runs (QIVRO_TEST_KEYRING=1, a private
// keyring), in the INI file with one warning where none does. Every case holds in both runs.
#include "base/secretstore.h"
#include "panel/authhandler.h"
#include "panelsuite.h"
#include "service/lansharing.h"
#include "service/service.h"
#include "tunneltest.h" // LogCapture

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace {

// QFile reports the current user's rights beside the mode bits.
const QFile::Permissions kUserBits = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
const QString kWarning = QStringLiteral("[SecretStore] No credential store available");

QSettings ini()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
        QStringLiteral("qivro"));
}

// What the secret service holds for a key, asked through its own command-line client.
QString storedInKeyring(const QString &key)
{
    QProcess lookup;
    lookup.start(QStringLiteral("secret-tool"),
        {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("qivro/qivro"),
            QStringLiteral("user"), key});
    lookup.waitForFinished(10000);
    return QString::fromUtf8(lookup.readAllStandardOutput());
}

} // namespace

class SecretStoreTest : public PanelSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secrets_data();
    void secrets();
    void programSecrets();

private:
    // Where a value that is stored must be found, and where it must not.
    void expectStored(const QString &key, const QString &value);

    const bool m_keyring = qEnvironmentVariableIntValue("QIVRO_TEST_KEYRING") == 1;
};

void SecretStoreTest::initTestCase()
{
    PanelSuite::initTestCase();
    if (m_keyring)
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("secret-tool")).isEmpty(),
            "secret-tool (libsecret-tools) is needed to look into the keyring");
}

void SecretStoreTest::expectStored(const QString &key, const QString &value)
{
    QSettings settings = ini();
    QCOMPARE(settings.value(key).toString(), m_keyring ? QString() : value);
    if (m_keyring)
        QCOMPARE(storedInKeyring(key), value);
    else if (!value.isEmpty())
        QCOMPARE(QFile::permissions(settings.fileName()) & ~kUserBits,
            QFile::ReadOwner | QFile::WriteOwner);
}

void SecretStoreTest::secrets_data()
{
    QTest::addColumn<QString>("inSettings"); // what an older build left in the INI file
    QTest::addColumn<QStringList>("writes"); // values written in turn; "-" removes
    QTest::addColumn<QString>("expected");

    QTest::newRow("replaced") << QString() << QStringList {"first", "пароль 密碼 🔑"}
                              << "пароль 密碼 🔑";
    QTest::newRow("moved from the settings file") << "old-pass" << QStringList {} << "old-pass";
    QTest::newRow("written over an old copy") << "old" << QStringList {"new"} << "new";
    QTest::newRow("removed") << QString() << QStringList {"s", "-"} << "";
}

void SecretStoreTest::secrets()
{
    QFETCH(QString, inSettings);
    QFETCH(QStringList, writes);
    QFETCH(QString, expected);

    const QString key = QStringLiteral("Auth/") + QString::fromLatin1(QTest::currentDataTag());
    QSettings settings = ini();
    if (!inSettings.isNull()) {
        settings.setValue(key, inSettings);
        settings.sync();
    }

    LogCapture log;
    SecretStore store(5000);
    for (const QString &value : std::as_const(writes)) {
        if (value == QLatin1String("-"))
            store.remove(settings, key);
        else
            store.write(settings, key, value);
    }
    QCOMPARE(store.read(settings, key), expected);
    // A second store (the next start) reads the same.
    SecretStore next(5000);
    QCOMPARE(next.read(settings, key), expected);
    expectStored(key, expected);

    QCOMPARE(store.usesCredentialStore(), m_keyring);
    QCOMPARE(LogCapture::count(kWarning), m_keyring ? 0 : 2);
}

// The program's own secrets: the control secret, the LAN sharing login and the session.
void SecretStoreTest::programSecrets()
{
    const QString email = newAccount();

    // An older build's control secret is kept, and moves.
    const QString secret(64, QLatin1Char('c'));
    {
        QSettings settings = ini();
        settings.setValue(QStringLiteral("Service/clashSecret"), secret);
    }
    QCOMPARE(service().secret(), secret);
    expectStored(QStringLiteral("Service/clashSecret"), secret);

    LanSharing first;
    first.setEnabled(true);
    LanSharing second;
    QVERIFY(second.enabled());
    QCOMPARE(second.password(), first.password());
    expectStored(QStringLiteral("Service/lanPassword"), first.password());

    AuthHandler auth;
    QVERIFY(auth.login(email, kPassword));
    expectStored(QStringLiteral("Auth/password"), kPassword);
    expectStored(QStringLiteral("Auth/token"), auth.authToken());

    AuthHandler restarted;
    restarted.initializeSession();
    QCOMPARE(restarted.authToken(), auth.authToken());

    auth.logout();
    expectStored(QStringLiteral("Auth/password"), QString());
    expectStored(QStringLiteral("Auth/token"), QString());
}

QTEST_GUILESS_MAIN(SecretStoreTest)
#include "tst_secretstore.moc"
