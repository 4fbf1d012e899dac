#include "panel/emailcodeflow.h"

#include "network/api.h"
#include "network/apiendpoints.h"
#include "network/networkerror.h"
#include "network/networkhandler.h"

#include <QJsonDocument>
#include <QUrl>

#include <utility>

namespace {

template <typename Response>
bool codeAccepted(const QJsonObject &reply, QString *msg)
{
    const auto response = API::fromJson<Response>(reply);
    *msg = response.msg;
    return response.msg == API::SuccessMsg && response.data.status;
}

} // namespace

EmailCodeFlow::EmailCodeFlow(int purpose, std::function<void()> stepChanged,
    std::function<void(bool loading)> loadingChanged)
    : m_purpose(purpose)
    , m_stepChanged(std::move(stepChanged))
    , m_loadingChanged(std::move(loadingChanged))
{ }

bool EmailCodeFlow::sendCode(const QString &email, const Report &failed)
{
    const QJsonObject body {{QStringLiteral("email"), email}, {QStringLiteral("type"), m_purpose}};
    if (!run(Step::SendingCode, Step::Idle, ApiEndpoints::Common::SendCode, body, {},
            &codeAccepted<API::SendCodeResponse>, QStringLiteral("Failed to send code"), failed))
        return false;
    moveTo(Step::CodeSent);
    return true;
}

bool EmailCodeFlow::verifyCode(const QString &email, const QString &code, const Report &failed)
{
    const QJsonObject body {{QStringLiteral("method"), QStringLiteral("email")},
        {QStringLiteral("account"), email}, {QStringLiteral("code"), code},
        {QStringLiteral("type"), m_purpose}};
    if (!run(Step::VerifyingCode, Step::CodeSent, ApiEndpoints::Common::CheckCode, body, {},
            &codeAccepted<API::CheckCodeResponse>, QStringLiteral("Invalid code"), failed))
        return false;
    m_code = code;
    moveTo(Step::CodeVerified);
    return true;
}

std::optional<QJsonObject> EmailCodeFlow::finish(const QString &endpoint, QJsonObject body,
    const Headers &headers, Verdict accepted, const QString &fallback, const Report &failed)
{
    body.insert(QStringLiteral("code"), m_code);
    return run(
        Step::Finishing, Step::CodeVerified, endpoint, body, headers, accepted, fallback, failed);
}

void EmailCodeFlow::complete()
{
    moveTo(Step::Completed);
}

void EmailCodeFlow::reset()
{
    m_code.clear();
    moveTo(Step::Idle);
}

std::optional<QJsonObject> EmailCodeFlow::run(Step busy, Step back, const QString &endpoint,
    const QJsonObject &body, const Headers &headers, Verdict accepted, const QString &fallback,
    const Report &failed)
{
    // The step is already busy when the loading change is seen, as it is back when it ends.
    m_step = busy;
    m_loadingChanged(true);
    m_stepChanged();

    NetworkRequest request = NetworkHandler::getDirectInstance()
                                 ->request()
                                 .url(QUrl(endpoint))
                                 .body(QJsonDocument(body).toJson(QJsonDocument::Compact));
    if (!headers.isEmpty())
        request.headers(headers);
    QJsonObject reply;
    try {
        reply = request.post().object();
    } catch (const NetworkError &error) {
        m_step = back;
        m_loadingChanged(false);
        m_stepChanged();
        failed(error.message());
        return std::nullopt;
    }
    m_loadingChanged(false);

    QString msg;
    if (accepted(reply, &msg))
        return reply;
    moveTo(back);
    failed(msg.isEmpty() || msg == API::SuccessMsg ? fallback : msg);
    return std::nullopt;
}

void EmailCodeFlow::moveTo(Step step)
{
    m_step = step;
    m_stepChanged();
}
