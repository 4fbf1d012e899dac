// Loopback helpers for the engine's integration tests: local origins, external programs started
// and stopped by PID, and small blocking clients.
#pragma once

#include "listener.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace support {

using Octets = std::vector<std::uint8_t>;

std::string sha256Hex(const std::string &data);
std::string hex(const std::uint8_t *data, std::size_t size);
std::vector<std::uint8_t> unhex(const std::string &text); // skips '-' (UUIDs)
inline std::uint16_t get16(const Octets &data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}
inline void put16(Octets &out, std::size_t value)
{
    out.insert(
        out.end(), {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}
// Blocking socket calls for the peers: every byte or false (no SIGPIPE), and a connection to
// 127.0.0.1 (-1 when refused).
bool sendAll(int fd, const std::uint8_t *data, std::size_t size);
bool readExact(int fd, std::uint8_t *data, std::size_t size);
int connectLoopback(std::uint16_t port, int type);
// A port that was free a moment ago (bound to 0 and read back), for programs that need one.
std::uint16_t freeTcpPort();
std::uint16_t freeUdpPort();
bool waitForTcpPort(std::uint16_t port, int timeoutMs = 5000);
bool haveProgram(const std::string &name);
std::string writeTempFile(const std::string &name, const std::string &content);
// Lines of a (log) file that contain fragment.
std::size_t linesWith(const std::string &path, const std::string &fragment);
// Descriptors a process holds open (Linux).
std::size_t openDescriptors(int pid);

// HTTP/1.1 origin (on 127.0.0.1 unless told): GET /blob (deterministic bytes), GET or HEAD
// anything else answers its name. delayMs holds every response head back.
class Origin
{
public:
    explicit Origin(std::string name, std::size_t blobSize = 1 << 20, int delayMs = 0,
        const std::string &address = "127.0.0.1");
    std::uint16_t port() const { return m_listener.port(); }
    const std::string &blob() const { return m_blob; }
    int connections() const { return m_listener.connections(); }

private:
    void serve(int fd);

    std::string m_name;
    std::string m_blob;
    int m_delayMs;
    Listener m_listener;
};

// Answers every datagram with "echo:" + payload.
class UdpEcho
{
public:
    UdpEcho();
    ~UdpEcho();
    std::uint16_t port() const { return m_port; }

private:
    asio::io_context m_io;
    asio::ip::udp::socket m_socket;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

// An external program, terminated by its PID when the object goes.
class Process
{
public:
    // withInput: the program reads what writeInput() sends, instead of the test's stdin.
    explicit Process(const std::vector<std::string> &argv, const std::string &logFile = "/dev/null",
        bool withInput = false);
    ~Process();
    bool running() const { return m_pid > 0; }
    int pid() const { return m_pid; }
    bool writeInput(const std::string &text);

private:
    int m_pid = -1;
    int m_input = -1;
};

struct CommandResult
{
    int exitCode = -1;
    std::string output;
};
CommandResult run(const std::vector<std::string> &argv, int timeoutSeconds = 60);
// curl -s -f --max-time 30 with these arguments; what it printed.
std::string curl(const std::vector<std::string> &arguments);

struct HttpResult
{
    int status = 0;
    std::map<std::string, std::string> headers; // lower-case names
    std::string body;
};
// One request with "Connection: close"; status 0 when the exchange failed. A "Host" header
// replaces the default 127.0.0.1, an empty one sends none.
HttpResult httpCall(std::uint16_t port, const std::string &method, const std::string &target,
    const std::map<std::string, std::string> &headers = {}, const std::string &body = {});

// SOCKS5 UDP ASSOCIATE through proxyPort, one datagram to host:port, the first answer back.
std::string socksUdpExchange(std::uint16_t proxyPort, const std::string &host, std::uint16_t port,
    const std::string &payload, int timeoutMs = 3000);
// Connects to proxyPort and opens a SOCKS5 CONNECT (no authentication) to host:port.
bool socksConnect(asio::ip::tcp::socket &socket, std::uint16_t proxyPort, const std::string &host,
    std::uint16_t port);
// A GET through a SOCKS5 CONNECT on an already open socket; returns the body.
std::string socksGet(asio::ip::tcp::socket &socket, const std::string &host, std::uint16_t port,
    const std::string &path, bool handshake);

// Reads one response with a Content-Length body; returns the body ("" on failure).
std::string readResponseBody(asio::ip::tcp::socket &socket);

} // namespace support
