// Live connections and traffic totals, read by the control API from its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qivro::engine {

struct ConnectionInfo
{
    std::string id;
    std::string network; // tcp, udp
    std::string inboundType; // "mixed/mixed-in"
    std::string sourceIp;
    std::string sourcePort;
    std::string destinationIp;
    std::string destinationPort;
    std::string host;
    std::string rule;
    std::string rulePayload;
    std::vector<std::string> chains; // node first
    std::chrono::system_clock::time_point start = std::chrono::system_clock::now();
    std::atomic<std::uint64_t> upload {0};
    std::atomic<std::uint64_t> download {0};
    // Posts a close to the connection's own thread; safe from any thread.
    std::function<void()> closer;
};

class Tracker
{
public:
    // A new record with a fresh id; add() publishes it once its fields are filled in, since the
    // control API reads published records from its own thread.
    static std::shared_ptr<ConnectionInfo> create();
    void add(const std::shared_ptr<ConnectionInfo> &info);
    void setCloser(ConnectionInfo &info, std::function<void()> closer);
    void close(const std::string &id);
    std::vector<std::shared_ptr<ConnectionInfo>> snapshot() const;
    bool closeConnection(const std::string &id);
    void closeAll();

    void addUpload(ConnectionInfo &info, std::uint64_t bytes);
    void addDownload(ConnectionInfo &info, std::uint64_t bytes);
    std::uint64_t uploadTotal() const { return m_upload.load(); }
    std::uint64_t downloadTotal() const { return m_download.load(); }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<ConnectionInfo>> m_connections;
    std::atomic<std::uint64_t> m_upload {0};
    std::atomic<std::uint64_t> m_download {0};
};

std::string newUuid();

} // namespace qivro::engine
