#include "panel/versionchecker.h"

#include "network/deployment.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

// Matches the application facts handed to the UI.
const QString kCurrentVersion = QStringLiteral(QIVRO_VERSION);
constexpr int kVersionFileTimeoutMs = 15000;

} // namespace

VersionChecker::VersionChecker(QObject *parent)
    : QObject(parent)
{ }

VersionChecker *VersionChecker::getInstance()
{
    // Never destroyed: the UI binds to it until the process ends.
    static VersionChecker *const instance = new VersionChecker();
    return instance;
}

QString VersionChecker::currentVersion() const
{
    return kCurrentVersion;
}

void VersionChecker::checkMinimumSupportedVersion()
{
    if (m_isChecking)
        return;
    setChecked(false);
    setUpdateRequired(false);
    setErrorMessage(QString());
    setIsChecking(true);

    QByteArray body;
    try {
        body = NetworkHandler::getDirectInstance()
                   ->request()
                   .url(QUrl(Deployment::versionFileUrl()))
                   .header("Accept", "application/json")
                   .timeout(kVersionFileTimeoutMs)
                   .getRaw();
    } catch (const NetworkError &error) {
        finishWithError(error.userMessage());
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        finishWithError(QStringLiteral("Invalid version response"));
        return;
    }
    applyVersionResponse(document.object());
}

void VersionChecker::exitApplication()
{
    QCoreApplication::quit();
}

bool VersionChecker::parseVersion(const QString &text, QList<int> &parts)
{
    static const QRegularExpression suffix(QStringLiteral("[+-]"));
    QString core = text.trimmed();
    const qsizetype cut = core.indexOf(suffix);
    if (cut >= 0)
        core.truncate(cut);
    parts.clear();
    for (const QString &part : core.split(QLatin1Char('.'), Qt::KeepEmptyParts)) {
        bool ok = false;
        // toInt() alone would take signs and surrounding space.
        const bool digits = !part.isEmpty() && std::all_of(part.cbegin(), part.cend(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        const int number = digits ? part.toInt(&ok, 10) : 0;
        if (!ok || number < 0)
            return false;
        parts.append(number);
    }
    return !parts.isEmpty();
}

int VersionChecker::compareVersions(const QString &a, const QString &b)
{
    QList<int> left;
    QList<int> right;
    if (!parseVersion(b, right))
        return 0;
    if (!parseVersion(a, left))
        return -1;
    const qsizetype length = std::max(left.size(), right.size());
    left.resize(length, 0);
    right.resize(length, 0);
    for (qsizetype i = 0; i < length; ++i) {
        if (left.at(i) < right.at(i))
            return -1;
        if (left.at(i) > right.at(i))
            return 1;
    }
    return 0;
}

void VersionChecker::applyVersionResponse(const QJsonObject &response)
{
    const QString minimum = response.value(QStringLiteral("min_version")).toString().trimmed();
    if (minimum.isEmpty()) {
        finishWithError(QStringLiteral("Version response is missing min_version"));
        return;
    }
    QList<int> parts;
    if (!parseVersion(minimum, parts)) {
        finishWithError(QStringLiteral("Version response has an invalid min_version"));
        return;
    }
    setMinimumVersion(minimum);
    setUpdateUrl(response.value(QStringLiteral("update_url")).toString().trimmed());
    setUpdateRequired(compareVersions(kCurrentVersion, minimum) < 0);
    setChecked(true);
    setIsChecking(false);
}

void VersionChecker::finishWithError(const QString &message)
{
    setErrorMessage(message);
    setUpdateRequired(false);
    setChecked(true);
    setIsChecking(false);
}

template <typename Assign>
void VersionChecker::changing(Assign assign)
{
    const bool before = canUseApp();
    assign();
    if (canUseApp() != before)
        emit canUseAppChanged();
}

void VersionChecker::setIsChecking(bool value)
{
    if (m_isChecking == value)
        return;
    changing([&] {
        m_isChecking = value;
        emit isCheckingChanged();
    });
}

void VersionChecker::setChecked(bool value)
{
    if (m_checked == value)
        return;
    changing([&] {
        m_checked = value;
        emit checkedChanged();
    });
}

void VersionChecker::setUpdateRequired(bool value)
{
    if (m_updateRequired == value)
        return;
    changing([&] {
        m_updateRequired = value;
        emit updateRequiredChanged();
    });
}

void VersionChecker::setMinimumVersion(const QString &value)
{
    if (m_minimumVersion == value)
        return;
    m_minimumVersion = value;
    emit minimumVersionChanged();
}

void VersionChecker::setUpdateUrl(const QString &value)
{
    if (m_updateUrl == value)
        return;
    m_updateUrl = value;
    emit updateUrlChanged();
}

void VersionChecker::setErrorMessage(const QString &value)
{
    if (m_errorMessage == value)
        return;
    m_errorMessage = value;
    emit errorMessageChanged();
}
