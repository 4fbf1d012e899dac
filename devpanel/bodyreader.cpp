#include "bodyreader.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

BodyReader::BodyReader(const QByteArray &body, bool allowEmpty)
{
    if (body.size() > kMaxBodyBytes) {
        m_error = QStringLiteral("Request body too large");
        return;
    }
    if (body.trimmed().isEmpty()) {
        if (!allowEmpty)
            m_error = QStringLiteral("Request body is empty");
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        m_error = QStringLiteral("Invalid JSON: %1").arg(parseError.errorString());
        return;
    }
    if (!document.isObject()) {
        m_error = QStringLiteral("Request body must be a JSON object");
        return;
    }
    m_object = document.object();
}

void BodyReader::fail(const QString &message)
{
    if (m_error.isEmpty())
        m_error = message;
}

bool BodyReader::has(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    return !value.isUndefined() && !value.isNull();
}

QString BodyReader::text(const QString &key, bool allowEmpty)
{
    if (!ok())
        return {};
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull()) {
        fail(QStringLiteral("Missing field: %1").arg(key));
        return {};
    }
    if (!value.isString()) {
        fail(QStringLiteral("Field %1 must be a string").arg(key));
        return {};
    }
    const QString result = value.toString().trimmed();
    if (result.isEmpty() && !allowEmpty)
        fail(QStringLiteral("Field %1 must not be empty").arg(key));
    return result;
}

QString BodyReader::optionalText(const QString &key)
{
    if (!ok() || !has(key))
        return {};
    const QJsonValue value = m_object.value(key);
    if (!value.isString()) {
        fail(QStringLiteral("Field %1 must be a string").arg(key));
        return {};
    }
    return value.toString().trimmed();
}

std::optional<qint64> BodyReader::wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(number) || std::trunc(number) != number || number >= 9223372036854775808.0
        || number < -9223372036854775808.0)
        return std::nullopt;
    return qint64(number);
}

bool BodyReader::readInteger(const QString &key, qint64 min, qint64 max, qint64 &out)
{
    const QJsonValue value = m_object.value(key);
    if (!value.isDouble()) {
        fail(QStringLiteral("Field %1 must be a number").arg(key));
        return false;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < double(min)
        || number > double(max)) {
        fail(QStringLiteral("Field %1 is out of range").arg(key));
        return false;
    }
    out = qint64(number);
    return true;
}

qint64 BodyReader::integer(const QString &key, qint64 min, qint64 max)
{
    if (!ok())
        return 0;
    if (!has(key)) {
        fail(QStringLiteral("Missing field: %1").arg(key));
        return 0;
    }
    qint64 result = 0;
    return readInteger(key, min, max, result) ? result : 0;
}

std::optional<qint64> BodyReader::optionalInteger(const QString &key, qint64 min, qint64 max)
{
    if (!ok() || !has(key))
        return std::nullopt;
    qint64 result = 0;
    if (!readInteger(key, min, max, result))
        return std::nullopt;
    return result;
}

std::optional<bool> BodyReader::optionalBool(const QString &key)
{
    if (!ok() || !has(key))
        return std::nullopt;
    const QJsonValue value = m_object.value(key);
    if (!value.isBool()) {
        fail(QStringLiteral("Field %1 must be true or false").arg(key));
        return std::nullopt;
    }
    return value.toBool();
}

std::optional<QJsonObject> BodyReader::optionalObject(const QString &key)
{
    if (!ok() || !has(key))
        return std::nullopt;
    const QJsonValue value = m_object.value(key);
    if (!value.isObject()) {
        fail(QStringLiteral("Field %1 must be an object").arg(key));
        return std::nullopt;
    }
    return value.toObject();
}
