// What an outbound's "tls" object asks of the engine's own TLS client, prepared once per
// outbound: the hello shape (a "random" fingerprint is drawn here, once), the trusted roots and
// the REALITY keys.
#pragma once

#include "config/config.h"
#include "tls/utls/tls13client.h"

#include <memory>
#include <string>
#include <vector>

namespace qivro::engine::utls {

class UtlsSettings
{
public:
    // True when the outbound needs this client rather than the system's TLS library: a utls
    // fingerprint, REALITY, or the vision flow (whose direct copy leaves our TLS in mid-stream).
    static bool wanted(const TlsConfig &tls, const std::string &flow);

    // server: the outbound's address, the name checked when server_name is empty.
    // defaultAlpn: offered instead of the shape's own when the configuration names none (a
    // transport may need one).
    static std::shared_ptr<const UtlsSettings> create(const TlsConfig &tls,
        const std::string &server, std::string &error,
        const std::vector<std::string> &defaultAlpn = {});

    // Options for one connection.
    ClientOptions options() const { return m_options; }

private:
    ClientOptions m_options;
};

} // namespace qivro::engine::utls
