// The C boundary as the client uses it: dlopen, start, stop, and what must not leak across cycles.
#include "support.h"
#include "testing.h"

#include <dirent.h>
#include <dlfcn.h>
#include <set>
#include <sstream>

namespace {

using EntryPoint = const char *(*)(const char *);
using StopPoint = const char *(*)();

std::string g_library;

struct Library
{
    void *handle = nullptr;
    EntryPoint start = nullptr;
    StopPoint stop = nullptr;

    Library()
    {
        handle = dlopen(g_library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            start = reinterpret_cast<EntryPoint>(dlsym(handle, "start"));
            stop = reinterpret_cast<StopPoint>(dlsym(handle, "stop"));
        }
    }
    ~Library()
    {
        if (handle)
            dlclose(handle);
    }
};

std::size_t countEntries(const char *path)
{
    std::size_t count = 0;
    if (DIR *dir = opendir(path)) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

std::string config(const std::string &inbound, const std::string &controller = "127.0.0.1:0")
{
    return R"({"log": {"level": "error"}, "inbounds": [)" + inbound + R"(],
      "outbounds": [{"type": "selector", "tag": "proxy", "outbounds": ["direct", "ut"]},
                    {"type": "urltest", "tag": "ut", "outbounds": ["direct"], "url": "http://127.0.0.1:9/"},
                    {"type": "direct", "tag": "direct"}],
      "route": {"rules": [{"ip_is_private": true, "outbound": "direct"}], "final": "proxy"},
      "experimental": {"clash_api": {"external_controller": ")"
        + controller + R"(", "secret": "s"}}})";
}

const std::string mixedAnyPort
    = R"({"type": "mixed", "tag": "mixed-in", "listen": "127.0.0.1", "listen_port": 0})";

} // namespace

TEST_CASE(exportsExactlyStartAndStop)
{
    const support::CommandResult symbols = support::run({"nm", "-D", "--defined-only", g_library});
    CHECK_EQ(symbols.exitCode, 0);
    std::set<std::string> names;
    std::istringstream lines(symbols.output);
    std::string address, kind, name;
    while (lines >> address >> kind >> name)
        names.insert(name);
    CHECK(names == std::set<std::string>({"start", "stop"}));
}

TEST_CASE(contract)
{
    Library library;
    CHECK(library.start && library.stop);
    if (!library.start)
        return;
    CHECK_EQ(std::string(library.stop()), ""); // not running: still fine
    const std::string missing = library.start("/nonexistent/config.json");
    CHECK_MSG(missing.find("no such file") != std::string::npos, missing);
    const std::string broken
        = library.start(support::writeTempFile("broken.json", "{\"inbounds\": [").c_str());
    CHECK_MSG(broken.find("decode config at ") == 0, broken);

    const std::string good = support::writeTempFile("good.json", config(mixedAnyPort));
    CHECK_EQ(std::string(library.start(good.c_str())), "");
    CHECK_EQ(std::string(library.start(good.c_str())), "engine is already running");
    CHECK_EQ(std::string(library.stop()), "");
    CHECK_EQ(std::string(library.stop()), "");

    // A port that is taken fails with the place and the system's reason, and leaves nothing
    // running.
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, {asio::ip::make_address("127.0.0.1"), 0});
    const std::string port = std::to_string(taken.local_endpoint().port());
    const std::string busy = support::writeTempFile("busy.json",
        config(R"({"type": "mixed", "tag": "mixed-in", "listen": "127.0.0.1", "listen_port": )"
            + port + "}"));
    const std::string error = library.start(busy.c_str());
    CHECK_EQ(error,
        "start inbound/mixed[mixed-in]: listen tcp 127.0.0.1:" + port
            + ": bind: address already in use");
    const std::string controllerBusy
        = support::writeTempFile("busy2.json", config(mixedAnyPort, "127.0.0.1:" + port));
    CHECK_MSG(std::string(library.start(controllerBusy.c_str())).find("address already in use")
            != std::string::npos,
        "controller");
    CHECK_EQ(std::string(library.start(good.c_str())), "");
    CHECK_EQ(std::string(library.stop()), "");

    const std::string tun = support::writeTempFile("tun.json",
        config(
            R"({"type": "tun", "tag": "tun-in", "address": ["172.19.0.1/30"], "auto_route": true, "stack": "mixed"})"));
    const std::string tunError = library.start(tun.c_str());
    CHECK_MSG(tunError.find("start inbound/tun[tun-in]") == 0
            && tunError.find("not supported") != std::string::npos,
        tunError);
}

TEST_CASE(hundredCyclesLeakNothing)
{
    Library library;
    if (!library.start)
        return;
    const std::string path = support::writeTempFile("cycle.json", config(mixedAnyPort));
    // One cycle first, so lazily created process-wide state is not counted.
    library.start(path.c_str());
    library.stop();
    const std::size_t fds = countEntries("/proc/self/fd");
    const std::size_t threads = countEntries("/proc/self/task");
    for (int i = 0; i < 100; ++i) {
        const std::string error = library.start(path.c_str());
        CHECK_MSG(error.empty(), error);
        CHECK_EQ(std::string(library.stop()), "");
    }
    CHECK_EQ(countEntries("/proc/self/fd"), fds);
    CHECK_EQ(countEntries("/proc/self/task"), threads);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path to libqivroengine> [case]\n", argv[0]);
        return 2;
    }
    g_library = argv[1];
    return qtest::runAll(argc - 1, argv + 1);
}
