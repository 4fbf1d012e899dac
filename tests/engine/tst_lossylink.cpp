// Each kind of node across an emulated link of 100 ms round trip, 1 % loss each way and
// 50 Mbit/s: the origin's blob down and up through the engine, compared whole (root: the link
// runs in network namespaces of its own).
#include "enginefixture.h"
#include "farnodes.h"

#include <chrono>

namespace {

std::string g_linkemu;
bool g_isolated = false;

void carriesAcrossLink(const std::string &protocol)
{
    if (!g_isolated)
        return;
    support::LinkEmulator link;
    std::string error;
    if (!CHECK_MSG(
            link.start(g_linkemu, {"--delay", "50", "--loss", "1", "--rate", "50"}, error), error))
        return;
    support::FarNodes nodes(link, 2 << 20);
    if (!CHECK(nodes.ready()))
        return;
    RunningEngine engine(proxyConfig(nodes.outbound(protocol)));
    const auto start = std::chrono::steady_clock::now();
    carriesBlob(engine.mixedPort(), nodes.origin(), protocol, support::LinkEmulator::farAddress);
    std::fprintf(stderr, "%s: 2 MiB down and up in %.1f s\n%s", protocol.c_str(),
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
        link.stop().c_str());
}

} // namespace

TEST_CASE(shadowsocks)
{
    carriesAcrossLink("shadowsocks");
}

TEST_CASE(reality)
{
    carriesAcrossLink("reality");
}

TEST_CASE(hysteria2)
{
    carriesAcrossLink("hysteria2");
}

int main(int argc, char **argv)
{
    return support::LinkEmulator::runTests(argc, argv, g_linkemu, g_isolated);
}
