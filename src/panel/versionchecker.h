#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

// The minimum version gate. At start the UI runs one check against the remote version file; when
// this build is older than its "min_version" the UI blocks everything behind an update notice.
// The gate fails open: a file that cannot be fetched or read leaves the app usable and only
// records why in errorMessage.
class VersionChecker : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isChecking READ isChecking NOTIFY isCheckingChanged)
    Q_PROPERTY(bool checked READ checked NOTIFY checkedChanged)
    Q_PROPERTY(bool updateRequired READ updateRequired NOTIFY updateRequiredChanged)
    Q_PROPERTY(bool canUseApp READ canUseApp NOTIFY canUseAppChanged)
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(QString minimumVersion READ minimumVersion NOTIFY minimumVersionChanged)
    Q_PROPERTY(QString updateUrl READ updateUrl NOTIFY updateUrlChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)

public:
    // Tests build their own; the program uses getInstance().
    explicit VersionChecker(QObject *parent = nullptr);
    static VersionChecker *getInstance();

    bool isChecking() const { return m_isChecking; }
    bool checked() const { return m_checked; }
    bool updateRequired() const { return m_updateRequired; }
    bool canUseApp() const { return m_checked && !m_isChecking && !m_updateRequired; }
    QString currentVersion() const;
    QString minimumVersion() const { return m_minimumVersion; }
    QString updateUrl() const { return m_updateUrl; }
    QString errorMessage() const { return m_errorMessage; }

    // Fetches the version file from Deployment::versionFileUrl() and decides. Does nothing while
    // a check is running.
    Q_INVOKABLE void checkMinimumSupportedVersion();
    Q_INVOKABLE void exitApplication();

    // Dotted decimal, each part a non-negative 32-bit number; a "+" or "-" suffix is ignored.
    static bool parseVersion(const QString &text, QList<int> &parts);
    // -1, 0 or 1 as a is older than, equal to or newer than b; missing parts count as 0. An
    // unreadable b gives 0, an unreadable a (with b readable) -1.
    static int compareVersions(const QString &a, const QString &b);

signals:
    void isCheckingChanged();
    void checkedChanged();
    void updateRequiredChanged();
    void canUseAppChanged();
    void minimumVersionChanged();
    void updateUrlChanged();
    void errorMessageChanged();

private:
    void applyVersionResponse(const QJsonObject &response);
    void finishWithError(const QString &message);

    void setIsChecking(bool value);
    void setChecked(bool value);
    void setUpdateRequired(bool value);
    void setMinimumVersion(const QString &value);
    void setUpdateUrl(const QString &value);
    void setErrorMessage(const QString &value);
    // Runs one assignment and reports canUseApp when that assignment changed it.
    template <typename Assign>
    void changing(Assign assign);

    bool m_isChecking = false;
    bool m_checked = false;
    bool m_updateRequired = false;
    QString m_minimumVersion;
    QString m_updateUrl;
    QString m_errorMessage;
};
