#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <optional>

class QNetworkAccessManager;

// A development panel for one test suite: qivro-devpanel on a free loopback port in a private
// data directory, with the admin API at hand (faults, counters, mailbox, clock, test data).
// Start it in initTestCase(); the destructor stops it by its process id.
//
//     TestPanel panel;
//     QVERIFY2(panel.start(), qPrintable(panel.lastError()));
//     panel.exportClientEnvironment();       // the client now talks to this panel
//     TestPanel::Fault fault;
//     fault.status = 502;
//     panel.setFault("/v1/auth/login", fault);
class TestPanel : public QObject
{
    Q_OBJECT

public:
    // One injected fault; see setFault(). Several switches may be combined.
    struct Fault
    {
        int status = 0; // answer with this HTTP status instead of running the endpoint
        std::optional<QString> msg; // replace the reply's msg (the endpoint still runs)
        QJsonObject data; // set these members of the reply's data (the endpoint still runs)
        QString body; // "malformed", "non-object" or "empty" instead of the real body
        int delayMs = 0; // answer this much later
        int times = 0; // apply to this many requests only; 0: until cleared
        QByteArray method; // only for this method; empty: any
    };

    explicit TestPanel(QObject *parent = nullptr);
    ~TestPanel() override;

    // Starts the panel; extra arguments go to qivro-devpanel (for example "--seed", "demo").
    // The data directory is a fresh temporary one, kept across restart().
    bool start(const QStringList &extraArguments = {});
    // Stops by process id: SIGTERM, then SIGKILL after five seconds.
    void stop();
    // Stops and starts again on the same data directory (a new port).
    bool restart();

    QString lastError() const { return m_lastError; }
    quint16 port() const { return m_port; }
    QString host() const; // "127.0.0.1:<port>", the form QIVRO_API_HOST takes
    QUrl url(const QString &pathAndQuery = {}) const;
    QString certificatePath() const { return m_certificatePath; }
    QSslCertificate certificate() const { return m_certificate; }
    QString dataDir() const { return m_tempDir ? m_tempDir->path() : QString(); }

    // Sets QIVRO_API_HOST, QIVRO_WEB_DOMAIN, QIVRO_VERSION_FILE_URL and QIVRO_EXTRA_CA_FILE in
    // this process's environment so that the client's deployment values point here.
    void exportClientEnvironment() const;

    // One request to the panel's public API over HTTPS. Returns the parsed JSON object (empty
    // when the body is not one); httpStatus and rawBody receive what came back.
    QJsonObject call(const QByteArray &method, const QString &pathAndQuery,
        const QJsonObject &body = {}, const QByteArray &token = {}, int *httpStatus = nullptr,
        QByteArray *rawBody = nullptr);
    // Signs in and returns the token, or an empty string.
    QByteArray login(const QString &email, const QString &password);

    // The admin API. Each returns false (or an empty result) and sets lastError() on failure.
    QJsonObject admin(
        const QByteArray &method, const QString &pathAndQuery, const QJsonObject &body = {});
    // Faults, counters, clock offset and test switches back to their defaults.
    bool reset() { return adminPost(QStringLiteral("/admin/reset")); }
    bool setFault(const QString &path, const Fault &fault);
    // The same written as text: an HTTP status, "msg:<text>", or a body kind.
    bool setFault(const QString &path, const QString &text, int times = 0);
    bool clearFaults() { return adminPost(QStringLiteral("/admin/faults/clear")); }
    int requestCount(const QString &path, const QByteArray &method = {});
    bool resetCounters()
    {
        return adminPost(QStringLiteral("/admin/counters/reset"));
    } // and the log
    // The recent requests to `path` (all paths when empty), oldest first: {"method", "path",
    // "query" {key: value}, "headers" {lower-case name: value}, "body"}.
    QJsonArray requests(const QString &path = {});
    QJsonObject lastRequest(const QString &path)
    {
        const QJsonArray all = requests(path);
        return all.isEmpty() ? QJsonObject() : all.last().toObject();
    }
    bool setClockOffset(qint64 seconds)
    {
        return adminPost(QStringLiteral("/admin/clock"), {{"offset", seconds}});
    }
    // Keys: auth_style ("invalid-access", "login-first", "http-401"), token_lifetime (seconds;
    // 0: no "exp"), reveal_codes, ticket_auto_reply, free_plan_id, free_cooldown, free_duration,
    // free_cooldown_style ("data", "refusal", "message"),
    // site (the site configuration object), version (the version file object).
    bool configure(const QJsonObject &settings)
    {
        return adminPost(QStringLiteral("/admin/config"), settings);
    }
    bool setAuthStyle(const QString &style) { return configure({{"auth_style", style}}); }
    QString latestCode(const QString &email, int type);
    // {"id", "refer_code", "token"} of a new account, or empty.
    QJsonObject createUser(
        const QString &email, const QString &password, qint64 balance = 0, qint64 giftAmount = 0);
    // {"id", "token"} of a new subscription; expireTime in seconds, 0: never, -1: in 30 days.
    // A tokenless one is listed with an empty token.
    QJsonObject grantSubscription(
        const QString &email, int planId, qint64 expireTime = -1, bool tokenless = false);
    bool revokeTokens(const QString &email)
    {
        return adminPost(QStringLiteral("/admin/users/revoke"), {{"email", email}});
    }
    bool setOrderStatus(const QString &orderNo, int status)
    {
        return adminPost(
            QStringLiteral("/admin/orders/status"), {{"order_no", orderNo}, {"status", status}});
    }
    bool replyToTicket(
        int ticketId, const QString &content, const QString &from = QStringLiteral("Admin"))
    {
        return adminPost(QStringLiteral("/admin/tickets/reply"),
            {{"ticket_id", ticketId}, {"content", content}, {"from", from}});
    }
    bool setPaymentMethodEnabled(int id, bool enabled)
    {
        return adminPost(
            QStringLiteral("/admin/payment-methods/enable"), {{"id", id}, {"enabled", enabled}});
    }
    int addAnnouncement(const QJsonObject &announcement)
    {
        return admin("POST", QStringLiteral("/admin/announcements"), announcement)["id"].toInt();
    }

private:
    bool adminPost(const QString &path, const QJsonObject &body = {});
    bool readStartupLines();
    QJsonObject request(const QByteArray &method, const QUrl &url, const QByteArray &body,
        const QList<QPair<QByteArray, QByteArray>> &headers, int *httpStatus, QByteArray *rawBody);

    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QStringList m_arguments;
    QString m_lastError;
    QString m_certificatePath;
    QSslCertificate m_certificate;
    QByteArray m_adminKey;
    quint16 m_port = 0;
};
