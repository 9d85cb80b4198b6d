#pragma once
// A real HTTP server on 127.0.0.1 for tests: it records every request, answers each path (or every
// path under a prefix) from a script, and can hold or delay answers to play a slow server. Waits are bounded
// and wake on the server's own progress, so no test has to sleep for it.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/network/testing/ListeningThread.h"
#include "platform/network/testing/Loopback.h"
#include "testing/Eventually.h"

// A port on 127.0.0.1 that refuses connections for as long as this lives. A socket holds the port
// bound but never listens: a port that was merely let go could be taken by another process before
// the test uses it, and the test would then reach that process instead of a closed port.
class ClosedLocalPort {
  public:
    ClosedLocalPort() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopbackAddress();
        socklen_t length = sizeof address;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~ClosedLocalPort() { release(); }
    ClosedLocalPort(const ClosedLocalPort&) = delete;
    ClosedLocalPort& operator=(const ClosedLocalPort&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // Lets the port go, for a server that is to open on it next.
    void release() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    int port_ = -1;
};

class LocalHttpServer {
  public:
    struct Request {
        std::string method;
        std::string path;
        std::string target;  // the path with its query
        httplib::Headers headers;
        std::string body;  // as the server decoded it: a gzip body arrives inflated
        // The query's name-value pairs in the order sent, percent-decoded.
        std::vector<std::pair<std::string, std::string>> query;

        std::string header(const std::string& name) const {
            auto found = headers.find(name);
            return found == headers.end() ? std::string() : found->second;
        }
        bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    };
    // The services under test speak JSON, so an unscripted answer is an empty JSON object.
    struct Answer {
        int status = 200;
        httplib::Headers headers;
        std::string body = "{}";
        std::string contentType = "application/json";
        // Real seconds the answer waits before it goes (cut short when the server stops): a server
        // slower than a client's time-out.
        double delay = 0;
    };

    // A given port lets a server appear where a client already points; 0 takes a free one.
    explicit LocalHttpServer(int port = 0) {
        auto handler = [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        };
        server_.Get(".*", handler).Post(".*", handler).Put(".*", handler).Patch(".*", handler);
        server_.Delete(".*", handler);
        if (port == 0) {
            port_ = server_.bind_to_any_port("127.0.0.1");
        } else {
            port_ = server_.bind_to_port("127.0.0.1", port) ? port : -1;
        }
        if (port_ > 0) thread_ = startListening(server_);
    }
    ~LocalHttpServer() { stop(); }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // Held and delayed requests are let go first: the server's stop waits for every handler.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        release();
        server_.stop();
        if (thread_.joinable()) thread_.join();
    }

    int port() const { return port_; }
    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Requests to this path get these answers in turn; the last one repeats.
    void script(const std::string& path, std::vector<Answer> answers) {
        std::lock_guard lock(mutex_);
        scripts_[path] = std::deque<Answer>(answers.begin(), answers.end());
    }
    // The same for every path that begins with `prefix` and has no script of its own; the longest
    // prefix wins.
    void scriptPrefix(const std::string& prefix, std::vector<Answer> answers) {
        std::lock_guard lock(mutex_);
        prefixScripts_[prefix] = std::deque<Answer>(answers.begin(), answers.end());
    }
    // Requests to this path are recorded at once but wait unanswered until release().
    void hold(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_.insert(path);
    }
    void release() {
        std::lock_guard lock(mutex_);
        held_.clear();
        changed_.notify_all();
    }

    std::vector<Request> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    Request last() {
        std::lock_guard lock(mutex_);
        return received_.empty() ? Request{} : received_.back();
    }
    size_t count(const std::string& path) {
        std::lock_guard lock(mutex_);
        return countLocked(path);
    }
    // The most requests that were between arrival and answer at one time.
    size_t maxInFlight() {
        std::lock_guard lock(mutex_);
        return maxInFlight_;
    }
    bool waitForRequests(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kTestPatience, [&] { return received_.size() >= count; });
    }
    bool waitForRequests(const std::string& path, size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kTestPatience, [&] { return countLocked(path) >= count; });
    }
    // The n-th request received (counted from 1), once it has come; nullopt when it does not come
    // within the test patience.
    std::optional<Request> waitForRequest(size_t n) {
        if (n == 0 || !waitForRequests(n)) return std::nullopt;
        std::lock_guard lock(mutex_);
        return received_[n - 1];
    }

  private:
    void handle(const httplib::Request& request, httplib::Response& response) {
        std::unique_lock lock(mutex_);
        received_.push_back({request.method, request.path, request.target, request.headers, request.body,
                             queryPairs(request.target)});
        maxInFlight_ = std::max(maxInFlight_, ++inFlight_);
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_.contains(request.path); });
        const Answer answer = nextAnswerLocked(request.path);
        if (answer.delay > 0)
            changed_.wait_for(lock, std::chrono::duration<double>(answer.delay), [&] { return stopping_; });
        --inFlight_;
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers) response.set_header(name, value);
        response.set_content(answer.body, answer.contentType);
    }
    Answer nextAnswerLocked(const std::string& path) {
        std::deque<Answer>* answers = nullptr;
        if (auto exact = scripts_.find(path); exact != scripts_.end()) {
            answers = &exact->second;
        } else {
            for (auto& [prefix, scripted] : prefixScripts_)
                if (path.starts_with(prefix)) answers = &scripted;  // keys ascend: the longest comes last
        }
        if (!answers || answers->empty()) return {};
        Answer answer = answers->front();
        if (answers->size() > 1) answers->pop_front();
        return answer;
    }
    static std::vector<std::pair<std::string, std::string>> queryPairs(const std::string& target) {
        std::vector<std::pair<std::string, std::string>> pairs;
        const size_t question = target.find('?');
        if (question == std::string::npos) return pairs;
        std::string_view rest = std::string_view(target).substr(question + 1);
        while (!rest.empty()) {
            const std::string_view pair = rest.substr(0, rest.find('&'));
            rest.remove_prefix(std::min(rest.size(), pair.size() + 1));
            if (pair.empty()) continue;
            const size_t equals = pair.find('=');
            const std::string name(pair.substr(0, equals));
            const std::string value(equals == std::string_view::npos ? "" : pair.substr(equals + 1));
            pairs.emplace_back(httplib::detail::decode_url(name, true),
                               httplib::detail::decode_url(value, true));
        }
        return pairs;
    }
    size_t countLocked(const std::string& path) const {
        return static_cast<size_t>(std::count_if(received_.begin(), received_.end(),
                                                 [&](const Request& r) { return r.path == path; }));
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Request> received_;
    std::map<std::string, std::deque<Answer>> scripts_;
    std::map<std::string, std::deque<Answer>> prefixScripts_;
    bool stopping_ = false;
    std::set<std::string> held_;
    size_t inFlight_ = 0;
    size_t maxInFlight_ = 0;
};
