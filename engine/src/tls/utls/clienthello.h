// Writes a ClientHello in a browser's shape. The per-connection choices (random, session id,
// GREASE values, extension order, ECH GREASE) are drawn once, so the second hello after a
// HelloRetryRequest differs only in key_share and cookie, as RFC 8446 4.1.2 asks.
#pragma once

#include "tls/utls/bytes.h"
#include "tls/utls/fingerprint.h"

#include <string>

namespace qivro::engine::utls {

class KeyShare;

class ClientHello
{
public:
    // The session id sits at this offset of the handshake message (type, length, version,
    // random, session id length).
    static constexpr std::size_t sessionIdOffset = 39;

    // serverName empty: no SNI. alpn non-empty replaces the shape's protocols.
    ClientHello(const HelloShape &shape, std::string serverName, std::vector<std::string> alpn);

    // The handshake message (with its 4-byte header) carrying these shares. A retry leaves out
    // the GREASE share and adds the server's cookie.
    Bytes build(const std::vector<const KeyShare *> &shares, bool retry = false,
        const Bytes &cookie = {}) const;

    const HelloShape &shape() const { return m_shape; }
    const Bytes &random() const { return m_random; }
    Bytes &sessionId() { return m_sessionId; }
    // Extension types sent (GREASE left out): the server may answer only these.
    std::vector<std::uint16_t> offeredExtensions() const;
    std::vector<std::uint16_t> offeredCipherSuites() const;
    bool offersGroup(std::uint16_t group) const;

private:
    void writeExtension(ByteWriter &out, std::uint16_t type,
        const std::vector<const KeyShare *> &shares, bool retry, int &greaseSeen) const;
    std::uint16_t greased(std::uint16_t value, int which) const;

    const HelloShape &m_shape;
    std::string m_serverName;
    std::vector<std::string> m_alpn;
    Bytes m_random;
    Bytes m_sessionId;
    std::vector<std::uint16_t> m_order;
    std::uint16_t m_grease[5] = {};
    Bytes m_ech;
};

} // namespace qivro::engine::utls
