#include "httpstestserver.h"
#include "networkerror.h"
#include "networkhandler.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

struct Received
{
    QByteArray method;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

QByteArray methodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    default:
        return "OTHER";
    }
}

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
    void sentRequest_data();
    void sentRequest();
    void redirects_data();
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
    Received m_received;
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
    server.route("/echo", [this](const QHttpServerRequest &request) {
        m_received = {methodName(request.method()), request.headers(), request.body()};
        return QHttpServerResponse("text/plain", plainBody);
    });
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
    QTest::addColumn<bool>("auth");
    QTest::addColumn<bool>("server");
    QTest::addColumn<bool>("timeout");
    QTest::addColumn<bool>("connection");

    const QString expired = QStringLiteral("Authentication expired, please log in again");
    QTest::newRow("401 with msg") << "/expired" << 204 << 401 << "token is expired" << expired
                                  << true << false << false << false;
    QTest::newRow("403 plain body") << "/forbidden" << -1 << 403 << "plain refusal" << expired
                                    << true << false << false << false;
    QTest::newRow("msg not text") << "/teapot" << -1 << 418 << R"({"msg":["not text"]})"
                                  << QString() << false << false << false << false;
    QTest::newRow("502") << "/bad-gateway" << -1 << 502 << "upstream down"
                         << "Server error, please try again later" << false << true << false
                         << false;
    QTest::newRow("never answers") << "silent" << 5 << 0 << QString() << "Connection timed out"
                                   << false << false << true << false;
    QTest::newRow("nobody listens")
        << "closed" << 1 << 0 << QString() << "Unable to connect to server" << false << false
        << false << true;
}

void NetworkRequestTest::failures()
{
    QFETCH(QString, target);
    QFETCH(int, errorCode);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, userMessage);
    QFETCH(bool, auth);
    QFETCH(bool, server);
    QFETCH(bool, timeout);
    QFETCH(bool, connection);

    try {
        NetworkHandler::getDirectInstance()->request().url(this->target(target)).timeout(400).get();
        QFAIL("no NetworkError");
    } catch (const NetworkError &error) {
        if (errorCode >= 0)
            QCOMPARE(error.errorCode(), errorCode);
        QVERIFY(error.errorCode() != 0);
        QCOMPARE(error.httpStatusCode(), status);
        if (message.isEmpty())
            QVERIFY(!error.message().isEmpty());
        else
            QCOMPARE(error.message(), message);
        QCOMPARE(QString::fromUtf8(error.what()), error.message());
        QCOMPARE(error.userMessage(), userMessage.isEmpty() ? error.message() : userMessage);
        QCOMPARE(error.isAuthError(), auth);
        QCOMPARE(error.isServerError(), server);
        QCOMPARE(error.isTimeoutError(), timeout);
        QCOMPARE(error.isConnectionError(), connection);
    }
    QTRY_VERIFY(NetworkHandler::getDirectInstance()->findChildren<QNetworkReply *>().isEmpty());
}

void NetworkRequestTest::sentRequest_data()
{
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("contentType"); // empty: none sent
    QTest::addColumn<QByteArray>("authorization"); // empty: none sent

    const QByteArray json = R"({"email":"a@b.example"})";
    QTest::newRow("get, no token") << "get"
                                   << "" << QByteArray() << QByteArray("GET")
                                   << QByteArray("application/json") << QByteArray();
    QTest::newRow("getRaw sends no content type")
        << "getRaw"
        << "" << QByteArray() << QByteArray("GET") << QByteArray() << QByteArray();
    QTest::newRow("post with token")
        << "post"
        << "t\xc3\xb6k" << json << QByteArray("POST") << QByteArray("application/json")
        << QByteArray("Bearer t\xc3\xb6k");
    QTest::newRow("put") << "put"
                         << "" << json << QByteArray("PUT") << QByteArray("application/json")
                         << QByteArray();
}

void NetworkRequestTest::sentRequest()
{
    QFETCH(QString, verb);
    QFETCH(QString, token);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, authorization);

    m_received = {};
    NetworkRequest request = NetworkHandler::getDirectInstance()
                                 ->request()
                                 .url(m_https.url(QStringLiteral("/echo")))
                                 .body(body)
                                 .authToken(token)
                                 .header("X-Zeta", "first")
                                 .headers({{"X-Alpha", "a"}, {"X-Zeta", "last"}});
    if (verb == QLatin1String("get")) {
        QVERIFY(request.get().isNull()); // a plain body is not an error
    } else if (verb == QLatin1String("post")) {
        QVERIFY(request.post().isNull());
    } else if (verb == QLatin1String("put")) {
        QVERIFY(request.put());
    } else {
        QCOMPARE(request.getRaw(), plainBody);
    }

    QCOMPARE(m_received.method, method);
    QCOMPARE(m_received.body, body);
    QCOMPARE(m_received.header("Content-Type"), contentType);
    QCOMPARE(m_received.header("Authorization"), authorization);
    QCOMPARE(m_received.header("X-Zeta"), QByteArray("last"));
    QCOMPARE(m_received.header("X-Alpha"), QByteArray("a"));
    QTRY_VERIFY(NetworkHandler::getDirectInstance()->findChildren<QNetworkReply *>().isEmpty());
}

void NetworkRequestTest::redirects_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("errorCode"); // 0: no error
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("https to https") << "/to-https" << true << 0 << plainBody;
    QTest::newRow("https to http")
        << "/to-http" << true << int(QNetworkReply::InsecureRedirectError) << QByteArray();
    QTest::newRow("not followed when off") << "/to-https" << false << 0 << QByteArray();
}

void NetworkRequestTest::redirects()
{
    QFETCH(QString, path);
    QFETCH(bool, follow);
    QFETCH(int, errorCode);
    QFETCH(QByteArray, reply);

    m_httpHits = 0;
    int raised = 0;
    QByteArray body;
    try {
        body = NetworkHandler::getDirectInstance()
                   ->request()
                   .url(m_https.url(path))
                   .followRedirects(follow)
                   .getRaw();
    } catch (const NetworkError &error) {
        raised = error.errorCode();
    }
    QCOMPARE(raised, errorCode);
    QCOMPARE(body, reply);
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
