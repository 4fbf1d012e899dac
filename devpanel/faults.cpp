#include "faults.h"

namespace {

const char *bodyName(Faults::Body body)
{
    switch (body) {
    case Faults::Body::Real:
        return "real";
    case Faults::Body::Malformed:
        return "malformed";
    case Faults::Body::NonObject:
        return "non-object";
    case Faults::Body::Empty:
        return "empty";
    }
    return "real";
}

} // namespace

QJsonObject Faults::Fault::toJson() const
{
    QJsonObject object {{QStringLiteral("method"), QString::fromLatin1(method)},
        {QStringLiteral("status"), status},
        {QStringLiteral("body"), QString::fromLatin1(bodyName(body))},
        {QStringLiteral("delay_ms"), delayMs}, {QStringLiteral("never"), neverAnswer},
        {QStringLiteral("drop"), dropConnection}, {QStringLiteral("times"), times}};
    if (msg)
        object.insert(QStringLiteral("msg"), *msg);
    if (!data.isEmpty())
        object.insert(QStringLiteral("data"), data);
    return object;
}

std::optional<Faults::Fault> Faults::fromJson(const QJsonObject &object, QString *error)
{
    Fault fault;
    auto fail = [error](const QString &text) {
        *error = text;
        return std::nullopt;
    };
    auto integer = [&object](const char *key, int min, int max, int &out) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return true;
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number < min || number > max || number != int(number))
            return false;
        out = int(number);
        return true;
    };
    fault.method = object.value(QStringLiteral("method")).toString().toUpper().toLatin1();
    if (!integer("status", 0, 599, fault.status) || (fault.status != 0 && fault.status < 100))
        return fail(QStringLiteral("status must be an HTTP status"));
    if (!integer("delay_ms", 0, 600000, fault.delayMs))
        return fail(QStringLiteral("delay_ms must be 0 to 600000"));
    if (!integer("times", 0, 1000000, fault.times))
        return fail(QStringLiteral("times must be 0 or more"));
    const QJsonValue msg = object.value(QStringLiteral("msg"));
    if (msg.isString())
        fault.msg = msg.toString();
    else if (!msg.isUndefined() && !msg.isNull())
        return fail(QStringLiteral("msg must be a string"));
    const QJsonValue data = object.value(QStringLiteral("data"));
    if (data.isObject())
        fault.data = data.toObject();
    else if (!data.isUndefined() && !data.isNull())
        return fail(QStringLiteral("data must be an object"));
    const QString body = object.value(QStringLiteral("body")).toString(QStringLiteral("real"));
    if (body == QLatin1String("malformed"))
        fault.body = Body::Malformed;
    else if (body == QLatin1String("non-object"))
        fault.body = Body::NonObject;
    else if (body == QLatin1String("empty"))
        fault.body = Body::Empty;
    else if (body != QLatin1String("real"))
        return fail(QStringLiteral("body must be real, malformed, non-object or empty"));
    fault.neverAnswer = object.value(QStringLiteral("never")).toBool();
    fault.dropConnection = object.value(QStringLiteral("drop")).toBool();
    return fault;
}

void Faults::set(const QString &path, const Fault &fault)
{
    m_faults.insert(QString::fromLatin1(fault.method) + QLatin1Char(' ') + path, fault);
}

void Faults::clear()
{
    m_faults.clear();
}

std::optional<Faults::Fault> Faults::take(const QByteArray &method, const QString &path)
{
    for (const QString &key :
        {QString::fromLatin1(method) + QLatin1Char(' ') + path, QLatin1Char(' ') + path}) {
        auto it = m_faults.find(key);
        if (it == m_faults.end())
            continue;
        const Fault fault = *it;
        if (it->times > 0 && --it->times == 0)
            m_faults.erase(it);
        return fault;
    }
    return std::nullopt;
}

QJsonArray Faults::list() const
{
    QJsonArray result;
    for (auto it = m_faults.cbegin(); it != m_faults.cend(); ++it) {
        QJsonObject object = it->toJson();
        object.insert(QStringLiteral("path"), it.key().section(QLatin1Char(' '), 1));
        result.append(object);
    }
    return result;
}

PanelReply Faults::reply(const Fault &fault, const PanelReply &real)
{
    PanelReply reply = real;
    if (fault.status != 0)
        reply = PanelReply::httpError(fault.status,
            fault.msg.value_or(QString::fromLatin1(PanelReply::reasonPhrase(fault.status))));
    else if (fault.msg)
        reply.replaceMsg(*fault.msg);
    if (fault.status == 0 && !fault.data.isEmpty())
        reply.patchData(fault.data);

    switch (fault.body) {
    case Body::Real:
        break;
    case Body::Malformed:
        reply.contentType = "application/json";
        reply.body = R"({"code":200,"msg":"success","data":{"list":[{"id":1,)";
        break;
    case Body::NonObject:
        reply.contentType = "application/json";
        reply.body = R"(["success",200])";
        break;
    case Body::Empty:
        reply.body.clear();
        break;
    }
    return reply;
}

void Faults::count(const QByteArray &method, const QString &path)
{
    ++m_pathCounts[path];
    ++m_requestCounts[QString::fromLatin1(method) + QLatin1Char(' ') + path];
}

void Faults::resetCounters()
{
    m_pathCounts.clear();
    m_requestCounts.clear();
}

QJsonObject Faults::counters() const
{
    QJsonObject paths;
    for (auto it = m_pathCounts.cbegin(); it != m_pathCounts.cend(); ++it)
        paths.insert(it.key(), it.value());
    QJsonObject requests;
    for (auto it = m_requestCounts.cbegin(); it != m_requestCounts.cend(); ++it)
        requests.insert(it.key(), it.value());
    return QJsonObject {{QStringLiteral("paths"), paths}, {QStringLiteral("requests"), requests}};
}
