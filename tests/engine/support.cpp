#include "support.h"

#include <arpa/inet.h>
#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <openssl/sha.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

using asio::ip::tcp;
using asio::ip::udp;

std::string sha256Hex(const std::string &data)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(data.data()), data.size(), digest);
    return hex(digest, sizeof digest);
}

std::string hex(const std::uint8_t *data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i)
        out += {digits[data[i] >> 4], digits[data[i] & 15]};
    return out;
}

std::vector<std::uint8_t> unhex(const std::string &text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += text[i] == '-' ? 1 : 2) {
        if (text[i] != '-')
            bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

bool sendAll(int fd, const std::uint8_t *data, std::size_t size)
{
    for (ssize_t sent = 0; size > 0; data += sent, size -= static_cast<std::size_t>(sent)) {
        if ((sent = ::send(fd, data, size, MSG_NOSIGNAL)) <= 0)
            return false;
    }
    return true;
}

bool readExact(int fd, std::uint8_t *data, std::size_t size)
{
    for (ssize_t got = 0; size > 0; data += got, size -= static_cast<std::size_t>(got)) {
        if ((got = ::recv(fd, data, size, 0)) <= 0)
            return false;
    }
    return true;
}

int connectLoopback(std::uint16_t port, int type)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t freeTcpPort()
{
    asio::io_context io;
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return acceptor.local_endpoint().port();
}

std::uint16_t freeUdpPort()
{
    asio::io_context io;
    udp::socket socket(io, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return socket.local_endpoint().port();
}

bool waitForTcpPort(std::uint16_t port, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        asio::io_context io;
        tcp::socket socket(io);
        std::error_code error;
        socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
        if (!error)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool haveProgram(const std::string &name)
{
    return run({"sh", "-c", "command -v " + name}).exitCode == 0;
}

std::string writeTempFile(const std::string &name, const std::string &content)
{
    const char *base = std::getenv("TMPDIR");
    const std::string path = std::string(base ? base : "/tmp") + "/qivro-engine-test-"
        + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::size_t linesWith(const std::string &path, const std::string &fragment)
{
    std::ifstream in(path);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.find(fragment) != std::string::npos;
    return count;
}

std::size_t openDescriptors(int pid)
{
    std::error_code error;
    return static_cast<std::size_t>(std::distance(
        std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error),
        std::filesystem::directory_iterator()));
}

Origin::Origin(std::string name, std::size_t blobSize, int delayMs, const std::string &address)
    : m_name(std::move(name))
    , m_blob(blobSize, 0)
    , m_delayMs(delayMs)
    , m_listener([this](int fd) { serve(fd); }, address)
{
    std::uint32_t state = 12345;
    for (char &c : m_blob) {
        state = state * 1103515245 + 12345;
        c = static_cast<char>(state >> 16);
    }
}

void Origin::serve(int fd)
{
    asio::io_context io;
    tcp::socket socket(io, tcp::v4(), ::dup(fd));
    std::string buffer;
    for (;;) {
        std::error_code error;
        const std::size_t headEnd
            = asio::read_until(socket, asio::dynamic_buffer(buffer), "\r\n\r\n", error);
        if (error)
            return;
        const std::string head = buffer.substr(0, headEnd);
        buffer.erase(0, headEnd);
        std::istringstream lines(head);
        std::string method, target;
        lines >> method >> target;
        std::size_t contentLength = 0;
        const std::size_t lengthAt = head.find("Content-Length: ");
        if (lengthAt != std::string::npos)
            contentLength = std::stoul(head.substr(lengthAt + 16));
        if (buffer.size() < contentLength)
            asio::read(socket, asio::dynamic_buffer(buffer),
                asio::transfer_exactly(contentLength - buffer.size()), error);
        const std::string requestBody = buffer.substr(0, contentLength);
        buffer.erase(0, contentLength);
        const std::string body = target == "/blob" ? m_blob
            : target == "/echo"                    ? requestBody
                                                   : m_name;
        if (m_delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
        std::string response
            = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: "
            + std::to_string(body.size()) + "\r\n\r\n";
        if (method != "HEAD")
            response += body;
        asio::write(socket, asio::buffer(response), error);
        if (error || head.find("Connection: close") != std::string::npos)
            return;
    }
}

UdpEcho::UdpEcho()
    : m_socket(m_io, udp::endpoint(asio::ip::make_address("127.0.0.1"), 0))
{
    m_port = m_socket.local_endpoint().port();
    m_thread = std::thread([this] {
        char buffer[65536];
        while (true) {
            udp::endpoint from;
            std::error_code error;
            const std::size_t size = m_socket.receive_from(asio::buffer(buffer), from, 0, error);
            if (error || std::string(buffer, size) == "quit\n")
                return;
            const std::string reply = "echo:" + std::string(buffer, size);
            m_socket.send_to(asio::buffer(reply), from, 0, error);
        }
    });
}

UdpEcho::~UdpEcho()
{
    asio::io_context io;
    udp::socket socket(io, udp::v4());
    socket.send_to(
        asio::buffer(std::string("quit\n")), {asio::ip::make_address("127.0.0.1"), m_port});
    m_thread.join();
}

namespace {

// In a forked child: becomes the program or exits with 127.
[[noreturn]] void execute(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

} // namespace

Process::Process(const std::vector<std::string> &argv, const std::string &logFile, bool withInput)
{
    int input[2] = {-1, -1};
    if (withInput && ::pipe(input) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        const int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        if (withInput) {
            ::dup2(input[0], 0);
            ::close(input[1]);
        }
        execute(argv);
    }
    if (withInput) {
        ::close(input[0]);
        m_input = input[1];
    }
}

bool Process::writeInput(const std::string &text)
{
    return m_input >= 0
        && ::write(m_input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

Process::~Process()
{
    if (m_input >= 0)
        ::close(m_input);
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}

CommandResult run(const std::vector<std::string> &argv, int timeoutSeconds)
{
    CommandResult result;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return result;
    const int pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::close(pipeFds[0]);
        execute(argv);
    }
    ::close(pipeFds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[65536];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fd {pipeFds[0], POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t size = ::read(pipeFds[0], buffer, sizeof buffer);
        if (size <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(size));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string curl(const std::vector<std::string> &arguments)
{
    std::vector<std::string> argv = {"curl", "-s", "-f", "--max-time", "30"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run(argv).output;
}

namespace {

std::string dechunk(const std::string &body)
{
    std::string out;
    std::size_t position = 0;
    while (position < body.size()) {
        const std::size_t lineEnd = body.find("\r\n", position);
        if (lineEnd == std::string::npos || lineEnd == position)
            break;
        const std::string digits = body.substr(position, lineEnd - position);
        if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            break;
        const std::size_t size = std::stoul(digits, nullptr, 16);
        if (size == 0 || lineEnd + 2 + size > body.size())
            break;
        out += body.substr(lineEnd + 2, size);
        position = lineEnd + 2 + size + 2;
    }
    return out;
}

std::string requestText(const std::string &method, const std::string &target,
    const std::map<std::string, std::string> &headers, const std::string &body)
{
    // A Host among the headers replaces the default one; an empty one leaves Host out.
    const auto host = headers.find("Host");
    std::string request = method + " " + target + " HTTP/1.1\r\n";
    if (host == headers.end())
        request += "Host: 127.0.0.1\r\n";
    request += "Connection: close\r\n";
    for (const auto &[name, value] : headers) {
        if (!value.empty() || name != "Host")
            request += name + ": " + value + "\r\n";
    }
    if (!body.empty() || method == "PUT" || method == "PATCH")
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return request + "\r\n" + body;
}

} // namespace

HttpResult httpCall(std::uint16_t port, const std::string &method, const std::string &target,
    const std::map<std::string, std::string> &headers, const std::string &body)
{
    HttpResult result;
    asio::io_context io;
    tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    if (error)
        return result;
    asio::write(socket, asio::buffer(requestText(method, target, headers, body)), error);
    std::string response;
    asio::read(socket, asio::dynamic_buffer(response), error);
    const std::size_t headEnd = response.find("\r\n\r\n");
    if (headEnd == std::string::npos || response.size() < 12)
        return result;
    result.status = std::stoi(response.substr(9, 3));
    std::istringstream lines(response.substr(0, headEnd));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        for (char &c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        if (!value.empty() && value.back() == '\r')
            value.pop_back();
        result.headers[name] = value;
    }
    result.body = response.substr(headEnd + 4);
    if (result.headers["transfer-encoding"] == "chunked")
        result.body = dechunk(result.body);
    return result;
}

std::string socksUdpExchange(std::uint16_t proxyPort, const std::string &host, std::uint16_t port,
    const std::string &payload, int timeoutMs)
{
    asio::io_context io;
    tcp::socket control(io);
    std::error_code error;
    control.connect({asio::ip::make_address("127.0.0.1"), proxyPort}, error);
    if (error)
        return {};
    unsigned char greeting[] = {5, 1, 0};
    unsigned char reply[2];
    asio::write(control, asio::buffer(greeting), error);
    asio::read(control, asio::buffer(reply), error);
    unsigned char associate[] = {5, 3, 0, 1, 0, 0, 0, 0, 0, 0};
    asio::write(control, asio::buffer(associate), error);
    unsigned char bound[10];
    asio::read(control, asio::buffer(bound), error);
    if (error || bound[1] != 0 || bound[3] != 1)
        return {};
    const std::uint16_t relayPort = static_cast<std::uint16_t>(bound[8] << 8 | bound[9]);
    udp::socket socket(io, udp::v4());
    std::string packet = {0, 0, 0};
    const asio::ip::address ip = asio::ip::make_address(host, error);
    if (!error && ip.is_v4()) {
        packet += '\x01';
        const auto bytes = ip.to_v4().to_bytes();
        packet.append(bytes.begin(), bytes.end());
    } else {
        packet += '\x03';
        packet += static_cast<char>(host.size());
        packet += host;
    }
    packet += static_cast<char>(port >> 8);
    packet += static_cast<char>(port & 0xFF);
    packet += payload;
    socket.send_to(asio::buffer(packet), {asio::ip::make_address("127.0.0.1"), relayPort});
    std::string answer;
    std::vector<char> buffer(65536);
    udp::endpoint from;
    socket.async_receive_from(
        asio::buffer(buffer), from, [&](const std::error_code &receiveError, std::size_t size) {
            if (!receiveError && size > 10 && buffer[3] == 1)
                answer.assign(buffer.data() + 10, size - 10);
        });
    io.run_for(std::chrono::milliseconds(timeoutMs));
    return answer;
}

namespace {

bool socksHandshake(tcp::socket &socket, const std::string &host, std::uint16_t port)
{
    std::string hello = {5, 1, 0, 5, 1, 0, 3, static_cast<char>(host.size())};
    hello += host;
    hello += static_cast<char>(port >> 8);
    hello += static_cast<char>(port & 0xFF);
    std::error_code error;
    asio::write(socket, asio::buffer(hello), error);
    char reply[12];
    asio::read(socket, asio::buffer(reply, 12), error);
    return !error && reply[1] == 0 && reply[3] == 0;
}

} // namespace

bool socksConnect(
    tcp::socket &socket, std::uint16_t proxyPort, const std::string &host, std::uint16_t port)
{
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), proxyPort}, error);
    return !error && socksHandshake(socket, host, port);
}

std::string socksGet(tcp::socket &socket, const std::string &host, std::uint16_t port,
    const std::string &path, bool handshake)
{
    if (handshake && !socksHandshake(socket, host, port))
        return {};
    std::error_code error;
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    asio::write(socket, asio::buffer(request), error);
    return error ? "" : readResponseBody(socket);
}

std::string readResponseBody(tcp::socket &socket)
{
    std::error_code error;
    std::string response;
    const std::size_t headEnd
        = asio::read_until(socket, asio::dynamic_buffer(response), "\r\n\r\n", error);
    if (error)
        return {};
    const std::size_t lengthAt = response.find("Content-Length: ");
    const std::size_t length
        = lengthAt == std::string::npos ? 0 : std::stoul(response.substr(lengthAt + 16));
    if (response.size() < headEnd + length)
        asio::read(socket, asio::dynamic_buffer(response),
            asio::transfer_exactly(headEnd + length - response.size()), error);
    return response.substr(headEnd, length);
}

} // namespace support
