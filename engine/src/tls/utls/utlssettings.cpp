#include "tls/utls/utlssettings.h"

#include "tls/utls/certificateverifier.h"
#include "tls/utls/fingerprint.h"
#include "tls/utls/reality.h"

namespace qivro::engine::utls {

bool UtlsSettings::wanted(const TlsConfig &tls, const std::string &flow)
{
    return tls.enabled && (tls.utlsEnabled || tls.realityEnabled || !flow.empty());
}

std::shared_ptr<const UtlsSettings> UtlsSettings::create(const TlsConfig &tls,
    const std::string &server, std::string &error, const std::vector<std::string> &defaultAlpn)
{
    if (tls.maxVersion == "1.0" || tls.maxVersion == "1.1" || tls.maxVersion == "1.2") {
        error = "max_version " + tls.maxVersion
            + ": browser-shaped TLS (utls, reality, vision) speaks TLS 1.3 only";
        return nullptr;
    }
    auto settings = std::make_shared<UtlsSettings>();
    ClientOptions &options = settings->m_options;
    // The vision flow without a fingerprint still needs this client; it looks like Chrome then.
    options.shape = shapeForFingerprint(tls.utlsEnabled ? tls.utlsFingerprint : "");
    if (!options.shape) {
        error = "unknown uTLS fingerprint: " + tls.utlsFingerprint;
        return nullptr;
    }
    const std::string name = tls.serverName.empty() ? server : tls.serverName;
    options.serverName = tls.disableSni ? "" : name;
    options.verifyName = name;
    options.alpn = tls.alpn.empty() ? defaultAlpn : tls.alpn;
    options.insecure = tls.insecure;
    std::string pem;
    for (const std::string &line : tls.certificate)
        pem += line + "\n";
    options.verifier = CertificateVerifier::create(pem, tls.certificatePath, error);
    if (!options.verifier)
        return nullptr;
    if (tls.realityEnabled) {
        auto keys = std::make_shared<RealityKeys>();
        error = parseRealityKeys(tls.realityPublicKey, tls.realityShortId, *keys);
        if (!error.empty())
            return nullptr;
        options.reality = keys;
    }
    return settings;
}

} // namespace qivro::engine::utls
