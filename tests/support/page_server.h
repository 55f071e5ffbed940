#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quintalis::testing {

// A plain web server on 127.0.0.1, standing for a site the phone's owner
// visits: it serves fixed files to a browser, whatever the Host, and keeps
// the bodies that its pages post back. One thread per connection, each
// answered and closed; for tests only.
class PageServer {
public:
    struct File {
        std::string contentType;
        std::string body;
    };

    explicit PageServer(std::map<std::string, File> files);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    uint16_t port() const { return port_; }
    // The body of the first POST to `path`, waiting up to `seconds` for it.
    std::optional<std::string> waitForPost(const std::string& path, double seconds);

private:
    void acceptLoop();
    void serve(int fd);

    const std::map<std::string, File> files_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable posted_;
    std::map<std::string, std::string> posts_;
    std::vector<std::thread> connections_;  // under mutex_
    std::thread acceptor_;
};

}  // namespace quintalis::testing
