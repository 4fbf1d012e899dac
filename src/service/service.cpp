#include "service/service.h"

#include "base/debugger.h"
#include "base/logmask.h"
#include "base/privatefiles.h"
#include "base/secretstore.h"
#include "config/configbuilder.h"
#include "config/nodeclusters.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"
#include "service/lansharing.h"
#include "service/latencytable.h"
#include "service/privilege.h"
#include "subscription/selectionmemory.h"
#include "subscription/subscriptionhandler.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <array>

namespace {

const QString kSecretKey = QStringLiteral("Service/clashSecret");
const QString kPendingKey = QStringLiteral("Service/pendingConnectSubscription");

// The delayed repeat of the default node's push: the engine's selector may still be settling
// right after start.
constexpr int kSecondPushDelayMs = 600;

} // namespace

QString newControlSecret()
{
    std::array<quint32, 8> words {};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), int(sizeof(words)));
    return QString::fromLatin1(bytes.toHex());
}

namespace {

// {"name": "<tag>"}, the tag written as a JSON string so that quotes and backslashes survive.
QByteArray selectionBody(const QString &tag)
{
    const QByteArray array = QJsonDocument(QJsonArray {tag}).toJson(QJsonDocument::Compact);
    return QByteArrayLiteral("{\"name\": ") + array.mid(1, array.size() - 2) + '}';
}

// The program's INI settings, whatever the application's current names.
class ServiceSettings : public QSettings
{
public:
    ServiceSettings()
        : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qivro"),
            QStringLiteral("qivro"))
    { }
};

// The cases in which the rights are there already or not needed, each logged with its reason.
bool elevationUnneeded(const char *prefix)
{
    if (!Privilege::tunAvailable()) {
        qDebug().noquote() << prefix
                           << "No TUN mode in this build, the local proxy needs no elevation";
        return true;
    }
    if (Privilege::usesNativeVpnApi()) {
        qDebug().noquote() << prefix << "Platform uses native VPN API, no elevation needed";
        return true;
    }
    if (Privilege::hasElevatedPrivileges()) {
        qDebug().noquote() << prefix << "Already have elevated privileges";
        return true;
    }
    return false;
}

} // namespace

bool writeConfig(const QString &path, const QJsonObject &config)
{
    // Replaced whole, so the engine never reads half a file; it holds node passwords and the
    // control secret, so only the user may read it.
    QSaveFile file(path);
    if (!path.isEmpty() && file.open(QIODevice::WriteOnly)) {
        const QByteArray text = QJsonDocument(config).toJson(QJsonDocument::Compact);
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        if (file.write(text) == text.size() && file.commit()) {
            DEBUG_LOG << "Config updated successfully";
            return true;
        }
    }
    DEBUG_LOG << "Failed to write config.json";
    return false;
}

service::service(QObject *parent)
    : service(SubscriptionHandler::getInstance(), nullptr, parent)
{ }

service::service(SubscriptionHandler &store, SelectionMemory *selection, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_selection(selection)
    , m_lanSharing(new LanSharing(this))
{
    connect(&m_monitor, &RouteMonitor::nodeChanged, this, &service::setSelectedProxy);
    connect(&m_monitor, &RouteMonitor::respondingChanged, this, &service::nodeRespondingChanged);
    connect(&m_monitor, &RouteMonitor::checkingChanged, this, &service::checkingConnectionChanged);
    connect(m_lanSharing, &LanSharing::enabledChanged, this, [this]() {
        if (!m_proxyTags.isEmpty())
            writeCurrentConfig();
    });

    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!PrivateFiles::makeDirectory(location)) {
        qDebug().noquote() << "[Service][Constructor]:"
                           << "cannot create app data location.";
        return;
    }
    m_configFile = QDir::toNativeSeparators(location + QStringLiteral("/config.json"));
    qDebug().noquote() << "[Service][Constructor]:"
                       << "configFile set to" << m_configFile;
}

QString service::secret() const
{
    if (m_secret.isEmpty()) {
        ServiceSettings settings;
        m_secret = SecretStore::instance().read(settings, kSecretKey);
        if (m_secret.isEmpty()) {
            m_secret = newControlSecret();
            SecretStore::instance().write(settings, kSecretKey, m_secret);
        }
    }
    return m_secret;
}

bool service::hasPrivileges() const
{
    return !Privilege::tunAvailable() || Privilege::usesNativeVpnApi()
        || Privilege::hasElevatedPrivileges();
}

bool service::canRequestPrivileges() const
{
    return Privilege::canRequestElevation();
}

QString service::elevationExplanation() const
{
    return Privilege::getElevationExplanation();
}

bool service::usesNativeVpnApi() const
{
    return Privilege::usesNativeVpnApi();
}

bool service::requiresPasswordInput() const
{
    return Privilege::requiresPasswordInput();
}

// --- Configuration ---

bool service::writeCurrentConfig()
{
    const QList<QString> tags
        = m_latency ? m_latency->ordered(m_selectedSubscription, m_proxyTags) : m_proxyTags;
    return writeConfig(m_configFile,
        buildConfig(m_outbounds, tags, m_controller, secret(), m_selectorTag, m_tunEnabled,
            m_lanSharing->access(),
            m_latency ? m_latency->failed(m_selectedSubscription, tags) : QList<QString>()));
}

bool service::selectSubscription(const QString &name)
{
    const Subscription subscription = m_store.getSubscription(name);
    m_outbounds = subscription.outbounds;
    setProxyTags(subscription.tags);
    setSelectedSubscription(name);
    // A running engine keeps its configuration until the next start.
    return writeCurrentConfig();
}

void service::setTunEnabled(bool enabled)
{
    if (enabled == m_tunEnabled)
        return;
    if (enabled && !Privilege::tunAvailable()) {
        qDebug() << "[Service] TUN mode is not available in this build, using the local proxy";
        return;
    }
    if (enabled && !Privilege::usesNativeVpnApi() && !Privilege::hasElevatedPrivileges()) {
        qDebug() << "[Service] TUN mode requested but no privileges";
        return;
    }
    m_tunEnabled = enabled;
    emit tunEnabledChanged();
    if (!m_proxyTags.isEmpty())
        writeCurrentConfig();
}

// --- Connection ---

void service::ToggleConnection()
{
    toggleConnectionDesktop();
}

void service::toggleConnectionDesktop()
{
    // A failed start or stop leaves everything as it was; the engine's text is kept for a support
    // report, never logged or shown: it may quote the configuration.
    if (!m_isConnected) {
        emit engineStarting();
        const QString failure = m_engine.start(m_configFile.toUtf8());
        if (failure.isEmpty())
            applyConnectedState();
        else
            m_lastEngineError = failure;
        return;
    }
    const QString failure = m_engine.stop();
    if (failure.isEmpty())
        applyDisconnectedState();
    else
        m_lastEngineError = failure;
}

void service::applyConnectedState()
{
    setIsConnected(true);
    m_monitor.start(m_controller, secret(), m_selectorTag);
    if (!m_proxyTags.isEmpty()) {
        chooseDefaultOutboundAfterConnect();
        qDebug().noquote() << "[Service][Connected]:"
                           << "default outbound:" << m_selectedProxy
                           << "auto:" << (m_autoRoute ? "true" : "false");
    } else {
        qDebug().noquote() << "[Service][Connected]:"
                           << "proxy list is empty.";
    }
    qDebug().noquote() << "[Service][Connected]:"
                       << "Connected";
}

void service::applyDisconnectedState()
{
    m_monitor.stop();
    m_route.clear();
    m_outbounds = QJsonArray();
    m_selectedProxy.clear();
    setIsConnected(false);
    setProxyTags({});
    setAutoRoute(false);
    emit selectedProxyChanged();
    qDebug() << "[Service][Disconnected]: Disconnected";
}

// --- Node selection ---

bool service::selectProxy(const QString &tag)
{
    return selectNode(tag, false);
}

bool service::selectProxyAuto(const QString &tag)
{
    return selectNode(tag, true);
}

bool service::selectNode(const QString &tag, bool automatic)
{
    if (!m_proxyTags.contains(tag))
        return false;
    setAutoRoute(automatic);
    if (m_selection) {
        if (automatic)
            m_selection->rememberAutoSelection(m_selectedSubscription);
        else
            m_selection->rememberTagSelection(m_selectedSubscription, tag);
    }
    if (m_isConnected)
        return pushProxySelection(tag);
    setSelectedProxy(tag);
    return true;
}

bool service::selectAutoRoute()
{
    if (m_proxyTags.isEmpty())
        return false;
    setAutoRoute(true);
    if (m_selection)
        m_selection->rememberAutoSelection(m_selectedSubscription);
    if (!m_isConnected)
        return true;
    return applyRoute(autoGroupTag, [this] { return pickAutoTag(m_proxyTags); });
}

bool service::selectCluster(const QString &cluster)
{
    const QStringList members = tagsInCluster(m_proxyTags, cluster);
    if (members.isEmpty())
        return false;
    setAutoRoute(false);
    if (m_selection)
        m_selection->rememberTagSelection(m_selectedSubscription, members.first());
    if (!m_isConnected)
        return true;
    return applyRoute(clusterGroupTag(cluster), [members] { return pickRandomTag(members); });
}

void service::retryConnection()
{
    m_monitor.checkNow();
}

// The seed's random pick stands in when the engine cannot switch to the group.
bool service::applyRoute(const QString &route, const std::function<QString()> &fallback)
{
    if (pushRoute(route))
        return true;
    const QString fallbackTag = fallback ? fallback() : QString();
    if (fallbackTag.isEmpty())
        return false;
    qDebug().noquote() << "[Service][SelectProxy]:"
                       << "latency test group unavailable, using" << fallbackTag;
    return pushProxySelection(fallbackTag);
}

bool service::pushRoute(const QString &route)
{
    if (!putSelector(route))
        return false;
    m_route = route;
    m_monitor.setRoute(route, !m_proxyTags.contains(route));
    return true;
}

bool service::pushProxySelection(const QString &tag)
{
    if (!m_proxyTags.contains(tag)) {
        DEBUG_LOG << "Proxy tags does not contain: " << tag;
        return false;
    }
    // Shown at once, even when the engine then refuses.
    setSelectedProxy(tag);
    return pushRoute(tag);
}

bool service::putSelector(const QString &member)
{
    const QUrl url(
        QStringLiteral("http://") + m_controller + QStringLiteral("/proxies/") + m_selectorTag);
    if (!url.isValid()) {
        qDebug().noquote() << "[Service][SelectProxy]:"
                           << "Invalid URL constructed from clash_api:" << m_controller;
        return false;
    }
    const QByteArray body = selectionBody(member);
    qDebug().noquote() << "[Service][SelectProxy]:" << url.toString();
    qDebug().noquote() << "[Service][SelectProxy]:" << QString::fromUtf8(body);
    try {
        NetworkHandler::getDirectInstance()
            ->request()
            .url(url)
            .authToken(secret())
            .body(body)
            .put();
    } catch (const NetworkError &error) {
        qDebug().noquote() << "[Service][SelectProxy]:"
                           << "Failed to select proxy:" << error.message();
        if (error.isConnectionError())
            qDebug().noquote() << "[Service][SelectProxy]:"
                               << "Connection error - is sing-box running?";
        return false;
    }
    qDebug().noquote() << "[Service][SelectProxy]:"
                       << "Proxy selected successfully:" << member;
    return true;
}

void service::chooseDefaultOutboundAfterConnect()
{
    if (m_proxyTags.isEmpty() || !m_selection)
        return;
    const RememberedChoice choice
        = m_selection->rememberedChoice(m_selectedSubscription, m_proxyTags);
    QString route = choice.value;
    if (choice.kind == RememberedChoice::Kind::Auto)
        route = autoGroupTag;
    else if (choice.kind == RememberedChoice::Kind::Cluster)
        route = clusterGroupTag(choice.value);
    if (route.isEmpty())
        return;
    setAutoRoute(choice.kind == RememberedChoice::Kind::Auto);
    const bool node = choice.kind == RememberedChoice::Kind::Node;
    if (node)
        setSelectedProxy(route);
    std::function<QString()> fallback;
    if (!node) {
        fallback = [this] {
            return m_selection->chooseDefaultTagForSubscription(
                m_selectedSubscription, m_proxyTags, nullptr);
        };
    }
    applyRoute(route, fallback);
    // A disconnect or another choice meanwhile cancels the repeat; a first push that failed is
    // tried once more.
    QTimer::singleShot(kSecondPushDelayMs, this, [this, route]() {
        if (!m_isConnected)
            return;
        if (m_route == route)
            putSelector(route);
        else if (m_route.isEmpty())
            pushRoute(route);
    });
}

// --- Elevation and the pending connection ---

bool service::requestPrivileges()
{
    const char *prefix = "[Service][RequestPrivileges]:";
    if (elevationUnneeded(prefix))
        return true;
    if (!Privilege::canRequestElevation()) {
        qWarning().noquote() << prefix << "Cannot request elevation on this platform";
        return false;
    }
    qDebug().noquote() << prefix << "Requesting privilege elevation";
    if (!Privilege::requestElevation(tr("Enable TUN mode for VPN connection")))
        return false;
    emit hasPrivilegesChanged();
    return true;
}

bool service::requestPrivilegesWithPassword(const QString &password)
{
    const char *prefix = "[Service][RequestPrivilegesWithPassword]:";
    if (elevationUnneeded(prefix))
        return true;
    qDebug().noquote() << prefix << "Requesting privilege elevation with password";
    if (!Privilege::requestElevationWithPassword(
            tr("Enable TUN mode for VPN connection"), password))
        return false;
    emit hasPrivilegesChanged();
    return true;
}

void service::preparePendingConnection(const QString &subscriptionUrl)
{
    ServiceSettings settings;
    settings.setValue(kPendingKey, subscriptionUrl);
    settings.sync();
}

void service::clearPendingConnection()
{
    ServiceSettings settings;
    settings.remove(kPendingKey);
    settings.sync();
}

bool service::resumePendingConnection()
{
    QString url;
    {
        // Taken out first, so a pending connection is tried at most once.
        ServiceSettings settings;
        url = settings.value(kPendingKey).toString();
        settings.remove(kPendingKey);
        settings.sync();
    }
    if (url.isEmpty())
        return false;
    qDebug().noquote() << "[Service][ResumePendingConnection]:"
                       << "Resuming pending connection for:" << LogMask::tokens(url);
    if (!selectSubscription(url)) {
        qWarning().noquote() << "[Service][ResumePendingConnection]:"
                             << "Failed to restore subscription";
        return false;
    }
    emit pendingConnectionResumeStarted(url);
    if (!m_isConnected)
        toggleConnectionDesktop();
    return m_isConnected;
}

// --- Setters ---

void service::setIsConnected(bool connected)
{
    m_isConnected = connected;
    emit isConnectedChanged();
}

void service::setAutoRoute(bool autoRoute)
{
    if (m_autoRoute == autoRoute)
        return;
    m_autoRoute = autoRoute;
    emit autoRouteChanged();
}

void service::setProxyTags(const QList<QString> &tags)
{
    m_proxyTags = tags;
    emit proxyTagsChanged();
}

void service::setSelectedSubscription(const QString &name)
{
    m_selectedSubscription = name;
    emit selectedSubscriptionChanged();
}

void service::setSelectedProxy(const QString &tag)
{
    if (m_selectedProxy == tag)
        return;
    m_selectedProxy = tag;
    emit selectedProxyChanged();
}
