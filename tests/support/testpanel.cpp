#include "testpanel.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrlQuery>

namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kRequestTimeoutMs = 15000;

QString devpanelPath()
{
    const QString overridden = qEnvironmentVariable("QIVRO_DEVPANEL");
    return overridden.isEmpty() ? QStringLiteral(QIVRO_DEVPANEL_PATH) : overridden;
}

} // namespace

TestPanel::TestPanel(QObject *parent)
    : QObject(parent)
    , m_network(std::make_unique<QNetworkAccessManager>())
{ }

TestPanel::~TestPanel()
{
    stop();
}

QString TestPanel::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QUrl TestPanel::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("https://") + host() + pathAndQuery);
}

bool TestPanel::start(const QStringList &extraArguments)
{
    stop();
    if (!m_tempDir) {
        m_tempDir = std::make_unique<QTemporaryDir>();
        if (!m_tempDir->isValid()) {
            m_lastError = QStringLiteral("Cannot create a temporary data directory");
            return false;
        }
    }
    m_arguments = extraArguments;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(devpanelPath(),
        QStringList {
            QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data-dir"), dataDir()}
            + extraArguments);
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        m_lastError
            = QStringLiteral("Cannot start %1: %2").arg(devpanelPath(), m_process->errorString());
        m_process.reset();
        return false;
    }
    if (!readStartupLines()) {
        stop();
        return false;
    }
    QFile adminKey(dataDir() + QStringLiteral("/admin-key"));
    if (!adminKey.open(QIODevice::ReadOnly)) {
        m_lastError = QStringLiteral("The panel wrote no admin key");
        stop();
        return false;
    }
    m_adminKey = adminKey.readAll().trimmed();
    return true;
}

bool TestPanel::readStartupLines()
{
    QDeadlineTimer deadline(kStartTimeoutMs);
    QString url;
    while (!deadline.hasExpired()) {
        while (m_process->canReadLine()) {
            const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
            if (line.startsWith(QLatin1String("url: ")))
                url = line.mid(5);
            else if (line.startsWith(QLatin1String("certificate: ")))
                m_certificatePath = line.mid(13);
            else if (line == QLatin1String("ready")) {
                m_port = quint16(QUrl(url).port());
                QFile file(m_certificatePath);
                const QList<QSslCertificate> certificates = file.open(QIODevice::ReadOnly)
                    ? QSslCertificate::fromData(file.readAll())
                    : QList<QSslCertificate>();
                if (m_port == 0 || certificates.isEmpty()) {
                    m_lastError = QStringLiteral("The panel printed no usable URL or certificate");
                    return false;
                }
                m_certificate = certificates.first();
                return true;
            }
        }
        if (m_process->state() != QProcess::Running) {
            m_lastError
                = QStringLiteral("qivro-devpanel exited with code %1").arg(m_process->exitCode());
            return false;
        }
        m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    m_lastError = QStringLiteral("qivro-devpanel did not get ready in time");
    return false;
}

void TestPanel::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    m_port = 0;
}

bool TestPanel::restart()
{
    const QStringList arguments = m_arguments;
    stop();
    return start(arguments);
}

void TestPanel::exportClientEnvironment() const
{
    qputenv("QIVRO_API_HOST", host().toUtf8());
    qputenv("QIVRO_WEB_DOMAIN", host().toUtf8());
    qputenv("QIVRO_VERSION_FILE_URL", url(QStringLiteral("/client/version.json")).toEncoded());
    qputenv("QIVRO_EXTRA_CA_FILE", m_certificatePath.toUtf8());
}

QJsonObject TestPanel::request(const QByteArray &method, const QUrl &url, const QByteArray &body,
    const QList<QPair<QByteArray, QByteArray>> &headers, int *httpStatus, QByteArray *rawBody)
{
    QNetworkRequest request(url);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificate(m_certificate);
    request.setSslConfiguration(ssl);
    request.setTransferTimeout(kRequestTimeoutMs);
    if (!body.isEmpty())
        request.setHeader(
            QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    for (const auto &header : headers)
        request.setRawHeader(header.first, header.second);

    QNetworkReply *reply = m_network->sendCustomRequest(request, method, body);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QByteArray content = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0)
        m_lastError = reply->errorString();
    reply->deleteLater();
    if (httpStatus)
        *httpStatus = status;
    if (rawBody)
        *rawBody = content;
    return QJsonDocument::fromJson(content).object();
}

QJsonObject TestPanel::call(const QByteArray &method, const QString &pathAndQuery,
    const QJsonObject &body, const QByteArray &token, int *httpStatus, QByteArray *rawBody)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!token.isEmpty())
        headers.append({"Authorization", token});
    const QByteArray payload
        = body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
    return request(method, url(pathAndQuery), payload, headers, httpStatus, rawBody);
}

QByteArray TestPanel::login(const QString &email, const QString &password)
{
    return call("POST", QStringLiteral("/v1/auth/login"),
        {{"email", email}, {"identifier", email}, {"password", password}})
        .value("data")["token"]
        .toString()
        .toUtf8();
}

QJsonObject TestPanel::admin(
    const QByteArray &method, const QString &pathAndQuery, const QJsonObject &body)
{
    int status = 0;
    const QByteArray payload = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const QJsonObject reply = request(method, url(pathAndQuery),
        method == "GET" ? QByteArray() : payload, {{"X-Dev-Key", m_adminKey}}, &status, nullptr);
    if (reply["msg"].toString() != QLatin1String("success")) {
        m_lastError = QStringLiteral("%1 %2: HTTP %3 %4")
                          .arg(QString::fromLatin1(method), pathAndQuery)
                          .arg(status)
                          .arg(reply["msg"].toString());
        return {};
    }
    const QJsonObject data = reply["data"].toObject();
    // An empty object still tells success apart from failure.
    return data.isEmpty() ? QJsonObject {{"ok", true}} : data;
}

bool TestPanel::adminPost(const QString &path, const QJsonObject &body)
{
    return !admin("POST", path, body).isEmpty();
}

bool TestPanel::setFault(const QString &path, const Fault &fault)
{
    QJsonObject body {{"path", path}, {"status", fault.status}, {"delay_ms", fault.delayMs},
        {"times", fault.times}, {"method", QString::fromLatin1(fault.method)}};
    if (fault.msg)
        body.insert("msg", *fault.msg);
    if (!fault.data.isEmpty())
        body.insert("data", fault.data);
    if (!fault.body.isEmpty())
        body.insert("body", fault.body);
    return adminPost(QStringLiteral("/admin/faults"), body);
}

bool TestPanel::setFault(const QString &path, const QString &text, int times)
{
    Fault fault;
    fault.times = times;
    if (text.startsWith(QLatin1String("msg:")))
        fault.msg = text.mid(4);
    else if (!text.isEmpty() && text.front().isDigit())
        fault.status = text.toInt();
    else
        fault.body = text;
    return setFault(path, fault);
}

int TestPanel::requestCount(const QString &path, const QByteArray &method)
{
    const QJsonObject counters = admin("GET", QStringLiteral("/admin/counters"));
    if (method.isEmpty())
        return counters["paths"][path].toInt();
    return counters["requests"][QString::fromLatin1(method) + QLatin1Char(' ') + path].toInt();
}

QJsonArray TestPanel::requests(const QString &path)
{
    QUrlQuery query;
    if (!path.isEmpty())
        query.addQueryItem(QStringLiteral("path"), path);
    return admin("GET", "/admin/requests?" + query.toString(QUrl::FullyEncoded))["requests"]
        .toArray();
}

QString TestPanel::latestCode(const QString &email, int type)
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("email"), email);
    query.addQueryItem(QStringLiteral("type"), QString::number(type));
    return admin("GET", "/admin/mailbox/latest?" + query.toString(QUrl::FullyEncoded))["code"]
        .toString();
}

QJsonObject TestPanel::createUser(
    const QString &email, const QString &password, qint64 balance, qint64 giftAmount)
{
    return admin("POST", QStringLiteral("/admin/users"),
        {{"email", email}, {"password", password}, {"balance", balance},
            {"gift_amount", giftAmount}});
}

QJsonObject TestPanel::grantSubscription(
    const QString &email, int planId, qint64 expireTime, bool tokenless)
{
    QJsonObject body {{"email", email}, {"plan_id", planId}, {"tokenless", tokenless}};
    if (expireTime >= 0)
        body.insert("expire_time", expireTime);
    return admin("POST", QStringLiteral("/admin/subscriptions"), body);
}
