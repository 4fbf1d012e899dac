#include "httpstestserver.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Answers after a delay, as a slow panel would; the server runs on this thread's event loop.
void answerLater(QHttpServerResponder &&responder, int delayMs, const QByteArray &body)
{
    auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
    QTimer::singleShot(delayMs, [held, body] { held->write(body, "text/plain"); });
}

const QByteArray plainBody = "line one\r\nline two \xc3\xbc\n{not json";

} // namespace

class NetworkRequestTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void failures_data();
    void failures();
    void redirects();
    void nestedRequestsFinishInnerFirst();

private:
    QUrl target(const QString &name) const;

    HttpsTestServer m_https;
    QHttpServer m_http;
    quint16 m_httpPort = 0;
    int m_httpHits = 0;
    QTcpServer m_silent;
    quint16 m_closedPort = 0;
};

void NetworkRequestTest::initTestCase()
{
    QHttpServer &server = m_https.server();
    const auto reply = [](QHttpServerResponse::StatusCode status, const QByteArray &body) {
        return QHttpServerResponse("application/json", body, status);
    };
    using Status = QHttpServerResponse::StatusCode;
    server.route("/expired",
        [=] { return reply(Status::Unauthorized, R"({"code":401,"msg":"token is expired"})"); });
    server.route("/forbidden", [=] { return reply(Status::Forbidden, "plain refusal"); });
    server.route("/bad-gateway",
        [=] { return reply(Status::BadGateway, R"({"code":502,"msg":"upstream down"})"); });
    server.route("/teapot", [=] { return reply(Status::ImATeapot, R"({"msg":["not text"]})"); });
    server.route("/echo", [] { return QHttpServerResponse("text/plain", plainBody); });
    server.route("/to-https", [this] {
        QHttpServerResponse response(QHttpServerResponse::StatusCode::Found);
        response.setHeader("Location", m_https.url(QStringLiteral("/echo")).toEncoded());
        return response;
    });
    server.route("/to-http", [this] {
        QHttpServerResponse response(QHttpServerResponse::StatusCode::Found);
        response.setHeader(
            "Location", QByteArray("http://127.0.0.1:") + QByteArray::number(m_httpPort) + "/echo");
        return response;
    });
    server.route("/slow/<arg>",
        [](int delayMs, const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            answerLater(std::move(responder), delayMs, request.url().path().toUtf8());
        });
    QVERIFY2(m_https.start(), qPrintable(m_https.errorString()));

    m_http.route("/echo", [this] {
        ++m_httpHits;
        return QHttpServerResponse("text/plain", "plain http");
    });
    m_httpPort = m_http.listen(QHostAddress::LocalHost, 0);
    QVERIFY(m_httpPort != 0);

    // Accepts every connection and never says a word; the sockets stay open as its children.
    QVERIFY(m_silent.listen(QHostAddress::LocalHost, 0));
    connect(&m_silent, &QTcpServer::newConnection, this, [this] {
        while (m_silent.nextPendingConnection()) { }
    });

    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    m_closedPort = closed.serverPort();
    closed.close();
}

QUrl NetworkRequestTest::target(const QString &name) const
{
    if (name == QLatin1String("silent"))
        return QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(m_silent.serverPort()));
    if (name == QLatin1String("closed"))
        return QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(m_closedPort));
    return m_https.url(name);
}

void NetworkRequestTest::failures_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("errorCode"); // -1: whatever the library reports
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // empty: the library's error text
    QTest::addColumn<QString>("userMessage"); // empty: same as the message
    QTest::addColumn<QString>("kind"); // auth, server, timeout, connection or none

    const QString expired = QStringLiteral("Authentication expired, please log in again");
    const auto row = [](const char *name, const char *target, int code, int status,
                         const QString &message, const QString &user, const char *kind) {
        QTest::newRow(name) << target << code << status << message << user << kind;
    };
    row("401 with msg", "/expired", 204, 401, "token is expired", expired, "auth");
    row("403 plain body", "/forbidden", -1, 403, "plain refusal", expired, "auth");
    row("msg not text", "/teapot", -1, 418, R"({"msg":["not text"]})", "", "none");
    row("502", "/bad-gateway", -1, 502, "upstream down", "Server error, please try again later",
        "server");
    row("never answers", "silent", 5, 0, "", "Connection timed out", "timeout");
    row("nobody listens", "closed", 1, 0, "", "Unable to connect to server", "connection");
}

void NetworkRequestTest::failures()
{
    QFETCH(QString, target);
    QFETCH(int, errorCode);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, userMessage);
    QFETCH(QString, kind);

    try {
        NetworkHandler::getDirectInstance()->request().url(this->target(target)).timeout(400).get();
        QFAIL("no NetworkError");
    } catch (const NetworkError &error) {
        QCOMPARE(error.errorCode(), errorCode >= 0 ? errorCode : qMax(error.errorCode(), 1));
        QCOMPARE(error.httpStatusCode(), status);
        QCOMPARE(error.message(), message.isEmpty() ? QString::fromUtf8(error.what()) : message);
        QVERIFY(!error.message().isEmpty());
        QCOMPARE(error.userMessage(), userMessage.isEmpty() ? error.message() : userMessage);
        const QStringList kinds {error.isAuthError() ? "auth" : "",
            error.isServerError() ? "server" : "", error.isTimeoutError() ? "timeout" : "",
            error.isConnectionError() ? "connection" : ""};
        QCOMPARE(kinds.join(QString()), kind == QLatin1String("none") ? QString() : kind);
    }
    QTRY_VERIFY(NetworkHandler::getDirectInstance()->findChildren<QNetworkReply *>().isEmpty());
}

// Followed within HTTPS only: a redirect to plain HTTP is refused before anything is sent there.
void NetworkRequestTest::redirects()
{
    const auto fetch = [this](const char *path) {
        return NetworkHandler::getDirectInstance()
            ->request()
            .url(m_https.url(QString::fromLatin1(path)))
            .followRedirects(true)
            .getRaw();
    };
    QCOMPARE(fetch("/to-https"), plainBody);
    m_httpHits = 0;
    try {
        fetch("/to-http");
        QFAIL("no NetworkError");
    } catch (const NetworkError &error) {
        QCOMPARE(error.errorCode(), int(QNetworkReply::InsecureRedirectError));
    }
    QCOMPARE(m_httpHits, 0);
}

void NetworkRequestTest::nestedRequestsFinishInnerFirst()
{
    // The outer reply arrives first, while the inner request still waits: the outer call must
    // still return last, with its own body.
    QStringList finished;
    QByteArray innerBody;
    QTimer::singleShot(20, this, [&] {
        innerBody = NetworkHandler::getDirectInstance()
                        ->request()
                        .url(m_https.url(QStringLiteral("/slow/400")))
                        .getRaw();
        finished << QStringLiteral("inner");
    });
    const QByteArray outerBody = NetworkHandler::getDirectInstance()
                                     ->request()
                                     .url(m_https.url(QStringLiteral("/slow/100")))
                                     .getRaw();
    finished << QStringLiteral("outer");

    QCOMPARE(finished, QStringList({QStringLiteral("inner"), QStringLiteral("outer")}));
    QCOMPARE(innerBody, QByteArray("/slow/400"));
    QCOMPARE(outerBody, QByteArray("/slow/100"));
}

QTEST_GUILESS_MAIN(NetworkRequestTest)
#include "tst_networkrequest.moc"
