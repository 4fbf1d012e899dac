// The Windows runner under wine against the Linux runner, in one run: a download through the mixed
// inbound and Shadowsocks aes-128-gcm to ss-server, best of three for each.
// Usage: bench_windows <qivro-engine> <wine> <qivro-engine.exe> [MiB]
// Run with WINEPREFIX set to a prefix of the bench's own.
#include "support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

std::string writeConfig(std::uint16_t mixedPort, std::uint16_t serverPort)
{
    const json config = {{"log", {{"level", "error"}}},
        {"inbounds",
            {{{"type", "mixed"}, {"tag", "mixed-in"}, {"listen", "127.0.0.1"},
                {"listen_port", mixedPort}}}},
        {"outbounds",
            {{{"type", "shadowsocks"}, {"tag", "ss"}, {"server", "127.0.0.1"},
                {"server_port", serverPort}, {"method", "aes-128-gcm"}, {"password", "bench"}}}},
        {"route", {{"final", "ss"}}}};
    return support::writeTempFile(
        "bench-windows-" + std::to_string(mixedPort) + ".json", config.dump());
}

// MiB/s of one download of the origin's blob through the proxy; 0 when it failed.
double download(std::uint16_t proxyPort, const support::Origin &origin)
{
    const auto start = std::chrono::steady_clock::now();
    const support::CommandResult result = support::run({"curl", "-s", "-f", "-o", "/dev/null", "-w",
        "%{size_download}", "--socks5-hostname", "127.0.0.1:" + std::to_string(proxyPort),
        "http://127.0.0.1:" + std::to_string(origin.port()) + "/blob"});
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.exitCode != 0
        || std::strtoull(result.output.c_str(), nullptr, 10) != origin.blob().size())
        return 0;
    return static_cast<double>(origin.blob().size()) / (1 << 20) / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <qivro-engine> <wine> <qivro-engine.exe> [MiB]\n", argv[0]);
        return 2;
    }
    const std::size_t mib = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 256;
    if (!support::haveProgram("ss-server") || !support::haveProgram("curl")) {
        std::printf("ss-server or curl missing: skipped\n");
        return 0;
    }
    ::unsetenv("DISPLAY");
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    support::run({argv[2], "wineboot", "-i"}, 240);

    const support::Origin origin("bench", mib << 20);
    const std::uint16_t serverPort = support::freeTcpPort();
    support::Process server({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(serverPort), "-k",
        "bench", "-m", "aes-128-gcm"});
    const std::uint16_t linuxPort = support::freeTcpPort();
    const std::uint16_t windowsPort = support::freeTcpPort();
    support::Process linuxRunner({argv[1], "run", "-c", writeConfig(linuxPort, serverPort)});
    support::Process windowsRunner(
        {argv[2], argv[3], "run", "-c", "Z:" + writeConfig(windowsPort, serverPort)});
    if (!support::waitForTcpPort(serverPort) || !support::waitForTcpPort(linuxPort)
        || !support::waitForTcpPort(windowsPort, 60000)) {
        std::printf("a server or runner did not start\n");
        return 1;
    }
    double linuxRate = 0, windowsRate = 0;
    for (int round = 0; round < 3; ++round) {
        linuxRate = std::max(linuxRate, download(linuxPort, origin));
        windowsRate = std::max(windowsRate, download(windowsPort, origin));
    }
    std::printf("windows: %zu MiB through mixed + Shadowsocks aes-128-gcm to ss-server\n", mib);
    std::printf("  linux runner           %8.1f MiB/s\n", linuxRate);
    std::printf("  windows runner (wine)  %8.1f MiB/s   ratio %.2f\n", windowsRate,
        linuxRate > 0 ? windowsRate / linuxRate : 0.0);
    return linuxRate > 0 && windowsRate > 0 ? 0 : 1;
}
