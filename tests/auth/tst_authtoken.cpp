// The two pure rules of the session: a token's expiry and the wording of an auth failure.
#include "network/authfailure.h"
#include "panel/authhandler.h"

#include <QTest>

class AuthTokenTest : public QObject
{
    Q_OBJECT

private slots:
    void expiry_data();
    void expiry();
    void authFailureWording_data();
    void authFailureWording();
};

void AuthTokenTest::expiry_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<qint64>("expected");

    const QString header = QStringLiteral("eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9.");
    auto row = [&](const char *name, const char *payload, qint64 expected) {
        QTest::newRow(name) << header + QLatin1String(payload) + QStringLiteral(".c2ln")
                            << expected;
    };
    row("number", "eyJleHAiOjE3MDAwMDAwMDB9", 1700000000);
    row("decimal string", "eyJleHAiOiIxNzAwMDAwMDAwIn0", 1700000000);
    row("fraction truncated", "eyJleHAiOjE3MDAwMDAwMDAuOX0", 1700000000);
    row("integer beyond double precision", "eyJleHAiOjkwMDcxOTkyNTQ3NDA5OTN9",
        Q_INT64_C(9007199254740993));
    row("out of 64-bit range", "eyJleHAiOjFlMzAwfQ", 0);
    row("one character of padding", "eyJzdWIiOiJhYiIsImV4cCI6MTcwMDAwMDAwMX0", 1700000001);
    row("URL-safe alphabet", "eyJleHAiOjE3MDAwMDAwMDIsIm4iOiI_Pz8-In0", 1700000002);
    row("empty payload", "", 0);

    QTest::newRow("no signature part")
        << QStringLiteral("eyJhbGciOiJub25lIn0.eyJleHAiOjE3MDAwMDAwMDB9") << qint64(1700000000);
}

void AuthTokenTest::expiry()
{
    QFETCH(QString, token);
    QFETCH(qint64, expected);
    QCOMPARE(jwtExpiresAt(token), expected);
}

void AuthTokenTest::authFailureWording_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("expected");

    QTest::newRow("invalid access") << QStringLiteral("Invalid Access") << true;
    QTest::newRow("login in a sentence") << QStringLiteral("Please LogIn again") << true;
    QTest::newRow("please sign in first") << QStringLiteral("错误：请先登录") << true;
    QTest::newRow("wrong password") << QStringLiteral("Incorrect email or password") << false;
    QTest::newRow("log in, two words") << QStringLiteral("Log in required") << false;
    QTest::newRow("sign in without the first") << QStringLiteral("请登录") << false;
}

void AuthTokenTest::authFailureWording()
{
    QFETCH(QString, message);
    QFETCH(bool, expected);
    QCOMPARE(looksLikeAuthFailureMessage(message), expected);
}

QTEST_GUILESS_MAIN(AuthTokenTest)
#include "tst_authtoken.moc"
