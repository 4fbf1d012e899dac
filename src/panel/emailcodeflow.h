#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <optional>

// The steps an account flow takes with a code sent by e-mail: send the code, check it, then the
// request that uses it (registration or password reset). Each step is one request to the panel;
// on failure the flow goes one step back, so the user can try that step again.
class EmailCodeFlow
{
public:
    // The values of AuthHandler's RegistrationState and PasswordResetState.
    enum class Step
    {
        Idle = 0,
        SendingCode = 1,
        CodeSent = 2,
        VerifyingCode = 3,
        CodeVerified = 4,
        Finishing = 5,
        Completed = 6
    };
    using Report = std::function<void(const QString &error)>;
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    // Whether a reply accepts the request; *msg gets the panel's message either way.
    using Verdict = bool (*)(const QJsonObject &reply, QString *msg);

    // `purpose` is the panel's number for what the code is for. `stepChanged` runs after every
    // change of step, `loadingChanged` when a request starts or ends.
    EmailCodeFlow(int purpose, std::function<void()> stepChanged,
        std::function<void(bool loading)> loadingChanged);

    Step step() const { return m_step; }

    // True once the panel has sent the code.
    bool sendCode(const QString &email, const Report &failed);
    // True once the panel has accepted `code`, which the final request then carries.
    bool verifyCode(const QString &email, const QString &code, const Report &failed);
    // The final request, with the checked code (empty without one) as "code" in `body`. Returns
    // the accepted reply and stays in Finishing until complete(); `fallback` is the error
    // reported when a refusal carries no message.
    std::optional<QJsonObject> finish(const QString &endpoint, QJsonObject body,
        const Headers &headers, Verdict accepted, const QString &fallback, const Report &failed);
    void complete();
    // Back to the start, forgetting the code.
    void reset();

private:
    // Runs one request up to its verdict; on failure the flow is at `back` and `failed` told.
    std::optional<QJsonObject> run(Step busy, Step back, const QString &endpoint,
        const QJsonObject &body, const Headers &headers, Verdict accepted, const QString &fallback,
        const Report &failed);
    void moveTo(Step step);

    int m_purpose = 0;
    std::function<void()> m_stepChanged;
    std::function<void(bool)> m_loadingChanged;
    Step m_step = Step::Idle;
    QString m_code;
};
