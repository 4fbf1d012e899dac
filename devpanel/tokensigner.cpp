#include "tokensigner.h"

#include "bodyreader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMessageAuthenticationCode>

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray encodeSegment(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toBase64(kBase64Url);
}

std::optional<QJsonObject> decodeSegment(const QByteArray &segment)
{
    const auto decoded = QByteArray::fromBase64Encoding(
        segment, kBase64Url | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

qint64 wholeNumber(const QJsonObject &object, const char *key, bool *ok)
{
    const auto number = BodyReader::wholeNumber(object.value(QLatin1String(key)));
    *ok = number.has_value();
    return number.value_or(0);
}

} // namespace

TokenSigner::TokenSigner(const QByteArray &secret)
    : m_secret(secret)
{ }

QByteArray TokenSigner::signature(const QByteArray &signingInput) const
{
    return QMessageAuthenticationCode::hash(signingInput, m_secret, QCryptographicHash::Sha256)
        .toBase64(kBase64Url);
}

QByteArray TokenSigner::sign(const Claims &claims) const
{
    const QJsonObject header {{QStringLiteral("alg"), QStringLiteral("HS256")},
        {QStringLiteral("typ"), QStringLiteral("JWT")}};
    QJsonObject payload {{QStringLiteral("UserId"), claims.userId},
        {QStringLiteral("ver"), claims.version}, {QStringLiteral("iat"), claims.issuedAt}};
    if (claims.expiresAt > 0)
        payload.insert(QStringLiteral("exp"), claims.expiresAt);
    const QByteArray signingInput = encodeSegment(header) + '.' + encodeSegment(payload);
    return signingInput + '.' + signature(signingInput);
}

std::optional<TokenSigner::Claims> TokenSigner::verify(const QByteArray &token, qint64 now) const
{
    const QList<QByteArray> parts = token.split('.');
    if (parts.size() != 3)
        return std::nullopt;
    const QByteArray signingInput = parts.at(0) + '.' + parts.at(1);
    if (!constantTimeEquals(signature(signingInput), parts.at(2)))
        return std::nullopt;
    const auto header = decodeSegment(parts.at(0));
    const auto payload = decodeSegment(parts.at(1));
    if (!header || !payload || header->value(QStringLiteral("alg")).toString() != "HS256")
        return std::nullopt;

    Claims claims;
    bool ok = false;
    claims.userId = wholeNumber(*payload, "UserId", &ok);
    if (!ok || claims.userId <= 0)
        return std::nullopt;
    claims.version = wholeNumber(*payload, "ver", &ok);
    claims.issuedAt = wholeNumber(*payload, "iat", &ok);
    if (payload->contains(QStringLiteral("exp"))) {
        claims.expiresAt = wholeNumber(*payload, "exp", &ok);
        if (!ok || now >= claims.expiresAt)
            return std::nullopt;
    }
    return claims;
}
