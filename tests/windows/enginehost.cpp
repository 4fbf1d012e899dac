// Loads qivroengine.dll the way the client does and runs it through start/stop cycles:
//   qivro-enginehost <qivroengine.dll> <config.json> <cycles> <mixed port> [refused.json]
// A refused configuration must fail to start first (its error is printed) and leave nothing
// behind. Each cycle must start, accept a connection on the mixed port, refuse a second start,
// stop (twice, the second a no-op) and leave the port free for the next start.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <winsock2.h>
// winsock2.h must come before windows.h
#include <windows.h>
#include <ws2tcpip.h>

namespace {

using EntryPoint = const char *(*)(const char *);
using StopPoint = const char *(*)();

bool accepts(unsigned short port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected
        = connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    closesocket(s);
    return connected;
}

int fail(int cycle, const std::string &what)
{
    std::fprintf(stderr, "cycle %d: %s\n", cycle, what.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s <dll> <config> <cycles> <port> [refused]\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0); // a crash must not swallow what was printed
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    HMODULE library = LoadLibraryA(argv[1]);
    if (!library)
        return fail(0, "LoadLibrary failed: " + std::to_string(GetLastError()));
    auto start
        = reinterpret_cast<EntryPoint>(reinterpret_cast<void *>(GetProcAddress(library, "start")));
    auto stop
        = reinterpret_cast<StopPoint>(reinterpret_cast<void *>(GetProcAddress(library, "stop")));
    if (!start || !stop)
        return fail(0, "start or stop not exported");
    const int cycles = std::atoi(argv[3]);
    const auto port = static_cast<unsigned short>(std::atoi(argv[4]));
    if (argc == 6) {
        const std::string refused = start(argv[5]);
        if (refused.empty())
            return fail(0, "the refused configuration started");
        std::printf("refused: %s\n", refused.c_str());
        if (accepts(port))
            return fail(0, "the mixed port accepts after a refused start");
    }
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const std::string started = start(argv[2]);
        if (!started.empty())
            return fail(cycle, "start: " + started);
        if (!accepts(port))
            return fail(cycle, "the mixed port does not accept");
        if (std::string(start(argv[2])).empty())
            return fail(cycle, "a second start succeeded");
        if (!std::string(stop()).empty() || !std::string(stop()).empty())
            return fail(cycle, "stop returned an error");
        if (accepts(port))
            return fail(cycle, "the mixed port still accepts after stop");
    }
    FreeLibrary(library);
    std::printf("%d cycles\n", cycles);
    return 0;
}
