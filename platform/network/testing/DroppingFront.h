#pragma once
// A port on 127.0.0.1 in front of a test server. Its first connections are read and closed without
// an answer, as a server that fails before answering does; later ones pass through to the server
// behind. It counts the connections it accepts; waits on them are bounded and wake on progress.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/network/testing/Loopback.h"
#include "testing/Eventually.h"

class DroppingFront {
  public:
    DroppingFront(int serverPort, size_t drops) : serverPort_(serverPort), dropsLeft_(drops) {
        stop_ = eventfd(0, EFD_CLOEXEC);
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopbackAddress();
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            listen(listener_, 16) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    // Every thread sees the stop at once; the descriptors are closed only after they all ended.
    ~DroppingFront() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
        acceptor_.join();
        for (auto& relay : relays_) relay.join();
        close(listener_);
        close(stop_);
    }
    DroppingFront(const DroppingFront&) = delete;
    DroppingFront& operator=(const DroppingFront&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    bool waitForConnections(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kTestPatience, [&] { return connections_ >= count; });
    }
    size_t connections() {
        std::lock_guard lock(mutex_);
        return connections_;
    }

  private:
    // False once the front stops.
    bool readable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
        int ready;
        do ready = poll(fds, 2, -1);
        while (ready < 0 && errno == EINTR);
        return ready > 0 && !fds[1].revents;
    }

    void acceptLoop() {
        while (readable(listener_)) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            bool drop;
            {
                std::lock_guard lock(mutex_);
                drop = dropsLeft_ > 0;
                if (drop) --dropsLeft_;
            }
            if (drop) {
                readRequest(client);
                close(client);
            } else {
                relays_.emplace_back([this, client] { relay(client); });
            }
            std::lock_guard lock(mutex_);
            ++connections_;
            changed_.notify_all();
        }
    }

    // The whole request is read first, so that the close ends the connection in order rather than
    // resetting it: the client sees an empty reply.
    void readRequest(int fd) {
        std::string data;
        char buffer[4096];
        while (readable(fd)) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            data.append(buffer, static_cast<size_t>(n));
            const size_t headEnd = data.find("\r\n\r\n");
            if (headEnd != std::string::npos &&
                data.size() >= headEnd + 4 + contentLength(data.substr(0, headEnd)))
                return;
        }
    }

    static size_t contentLength(std::string head) {
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        const size_t field = head.find("\r\ncontent-length:");
        return field == std::string::npos ? 0 : std::strtoul(head.c_str() + field + 17, nullptr, 10);
    }

    void relay(int client) {
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopbackAddress(serverPort_);
        if (connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {stop_, POLLIN, 0}};
            for (;;) {
                const int ready = poll(fds, 3, -1);
                if (ready < 0 && errno == EINTR) continue;
                if (ready < 0 || fds[2].revents || !pass(fds[0], server) || !pass(fds[1], client)) break;
            }
        }
        close(server);
        close(client);
    }

    // False once `from` has ended or either side failed.
    static bool pass(const pollfd& from, int to) {
        if (!from.revents) return true;
        char buffer[16384];
        const ssize_t n = recv(from.fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t written = send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
            if (written <= 0) return false;
            sent += written;
        }
        return true;
    }

    const int serverPort_;
    int port_ = -1;
    int listener_ = -1;
    int stop_ = -1;
    std::thread acceptor_;
    std::vector<std::thread> relays_;  // the acceptor's own, joined after it
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t dropsLeft_;
    size_t connections_ = 0;
};
