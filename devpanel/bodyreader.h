#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// Reads a JSON request body field by field. The first problem (malformed JSON, a body that is not
// an object, a missing field, a field of the wrong type) is remembered as a message the client can
// show; later reads return defaults, so a handler reads everything and checks ok() once.
class BodyReader
{
public:
    static constexpr int kMaxBodyBytes = 64 * 1024;

    // An empty body reads as an empty object when allowEmpty is set (bodiless POSTs).
    explicit BodyReader(const QByteArray &body, bool allowEmpty = false);

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    // A string field that must be present; non-empty unless allowEmpty.
    QString text(const QString &key, bool allowEmpty = false);
    // A string field that may be absent or null; present with another type is an error.
    QString optionalText(const QString &key);
    // A whole-number field within [min, max].
    qint64 integer(const QString &key, qint64 min, qint64 max);
    std::optional<qint64> optionalInteger(const QString &key, qint64 min, qint64 max);
    std::optional<bool> optionalBool(const QString &key);
    std::optional<QJsonObject> optionalObject(const QString &key);
    bool has(const QString &key) const;

    // A JSON number that is a whole number within 64 bits, or nothing. Converting any other
    // double to an integer would be undefined, so every number from outside goes through here.
    static std::optional<qint64> wholeNumber(const QJsonValue &value);

    // Marks the body as refused with the given message unless an earlier problem was recorded.
    void fail(const QString &message);

private:
    bool readInteger(const QString &key, qint64 min, qint64 max, qint64 &out);

    QJsonObject m_object;
    QString m_error;
};
