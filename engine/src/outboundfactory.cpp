#include "outboundfactory.h"

#include "group/groups.h"
#if defined(QIVRO_HAVE_QUIC)
#include "outbound/hysteria2.h"
#endif
#include "outbound/shadowsocks.h"
#include "outbound/vless.h"

namespace qivro::engine {

std::shared_ptr<Outbound> createOutbound(const OutboundConfig &config)
{
    if (config.type == "direct")
        return std::make_shared<DirectOutbound>(config);
    if (config.type == "block" || config.type == "dns")
        return std::make_shared<BlockOutbound>(config);
    if (config.type == "selector")
        return std::make_shared<SelectorOutbound>(config);
    if (config.type == "urltest")
        return std::make_shared<UrlTestOutbound>(config);
    if (config.type == "shadowsocks") {
        ss::CipherKind kind;
        if (!config.plugin.empty())
            return std::make_shared<UnsupportedOutbound>(config, "Shadowsocks",
                "plugin " + config.plugin + " is not supported by this engine build");
        if (!ss::cipherFromMethod(config.method, kind))
            return std::make_shared<UnsupportedOutbound>(config, "Shadowsocks",
                "method " + config.method + " is not supported by this engine build");
        return std::make_shared<ShadowsocksOutbound>(config, kind);
    }
    if (config.type == "vless")
        return std::make_shared<VlessOutbound>(config);
    if (config.type == "hysteria2") {
#if defined(QIVRO_HAVE_QUIC)
        return std::make_shared<Hysteria2Outbound>(config);
#else
        return std::make_shared<UnsupportedOutbound>(
            config, "Hysteria2", "QUIC is not available in this build");
#endif
    }
    return nullptr;
}

} // namespace qivro::engine
