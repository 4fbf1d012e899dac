// The document the client writes in local-proxy mode, minus rule-set files: what the validator
// must accept and what the engine library is started with.
#pragma once

#include <nlohmann/json.hpp>

namespace support {

inline nlohmann::json clientConfig()
{
    return nlohmann::json::parse(R"({
      "dns": {"servers": [{"tag": "dns_fakeip", "address": "fakeip"},
                          {"tag": "dns_proxy", "address": "https://1.1.1.1/dns-query", "address_resolver": "dns_direct", "detour": "proxy"},
                          {"tag": "dns_direct", "address": "223.5.5.5", "detour": "direct"}],
              "rules": [{"outbound": "any", "server": "dns_direct"},
                        {"query_type": ["A", "AAAA"], "server": "dns_fakeip"}],
              "final": "dns_proxy",
              "fakeip": {"enabled": true, "inet4_range": "198.18.0.0/15", "inet6_range": "fc00::/18"},
              "independent_cache": true},
      "experimental": {"cache_file": {"enabled": true, "path": "/tmp/cache.db", "store_fakeip": true},
                       "clash_api": {"external_controller": "127.0.0.1:9090", "secret": "abc"}},
      "inbounds": [{"listen": "::", "listen_port": 1080, "sniff": true, "tag": "mixed-in", "type": "mixed"}],
      "log": {"level": "info", "timestamp": true},
      "outbounds": [
        {"method": "aes-256-gcm", "password": "p", "server": "127.0.0.1", "server_port": 8388, "tag": "HK-1", "type": "shadowsocks"},
        {"flow": "xtls-rprx-vision", "packet_encoding": "xudp", "server": "v.test", "server_port": 443, "tag": "JP-1",
         "tls": {"enabled": true, "server_name": "v.test", "utls": {"enabled": true, "fingerprint": "chrome"},
                 "reality": {"enabled": true, "public_key": "WGmv9FBUlzLLqu1eXfmzCm2jHLDldCutWtShp2jxpns", "short_id": "01"}},
         "transport": {"type": "ws", "path": "/x", "headers": {"Host": "v.test"}},
         "type": "vless", "uuid": "b831381d-6324-4d53-ad4f-8cda48b30811"},
        {"password": "pw", "server": "h.test", "server_port": 443, "tag": "US-1", "tls": {"enabled": true, "server_name": "h.test", "insecure": true},
         "obfs": {"type": "salamander", "password": "o"}, "type": "hysteria2"},
        {"outbounds": ["HK-1", "JP-1", "US-1"], "tag": "proxy", "type": "selector"},
        {"idle_timeout": "30m", "interval": "3m", "outbounds": ["HK-1", "JP-1", "US-1"], "tag": "urltest", "tolerance": 50,
         "type": "urltest", "url": "https://check.test/generate_204"},
        {"tag": "direct", "type": "direct"}],
      "route": {"auto_detect_interface": true, "final": "proxy",
                "rules": [{"action": "hijack-dns", "protocol": "dns"}, {"ip_is_private": true, "outbound": "direct"}]}
    })");
}

} // namespace support
