#pragma once

#include <QByteArray>

#include <optional>

// Session tokens: JSON Web Tokens signed with HMAC-SHA256. The payload carries the user, a
// per-user version (bumped to revoke every token of an account) and "exp" in seconds.
class TokenSigner
{
public:
    struct Claims
    {
        qint64 userId = 0;
        qint64 version = 0;
        qint64 issuedAt = 0;
        qint64 expiresAt = 0; // 0: the token carries no "exp" and never expires
    };

    explicit TokenSigner(const QByteArray &secret);

    QByteArray sign(const Claims &claims) const;
    // The claims of a well-formed, correctly signed token that has not expired at `now`.
    std::optional<Claims> verify(const QByteArray &token, qint64 now) const;

private:
    QByteArray signature(const QByteArray &signingInput) const;

    QByteArray m_secret;
};
