#pragma once
// What the ingestion tests share: a local HTTP server on 127.0.0.1 that records every POST
// (target with its query, headers as sent, body as the server decoded it) and answers each with
// one fixed status, type and body; and a recorder of an ingestion's answers.
#include <httplib.h>

#include "platform/network/testing/ListeningThread.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DudIzizoz/Internals/Ingestion/DIZIngestionProtocol.h"

class DIZRecordingServer {
  public:
    struct Request {
        std::string target;
        httplib::Headers headers;
        std::string body;

        std::string header(const std::string& name) const {
            auto found = headers.find(name);
            return found == headers.end() ? std::string() : found->second;
        }
        bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    };
    struct Answer {
        int status = 200;
        std::string contentType = "application/json";
        std::string body = "{}";
    };

    DIZRecordingServer() {
        server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            received_.push_back({request.target, request.headers, request.body});
            response.status = answer_.status;
            response.set_content(answer_.body, answer_.contentType.c_str());
            changed_.notify_all();
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = startListening(server_);
    }
    ~DIZRecordingServer() {
        server_.stop();
        thread_.join();
    }

    std::string url(const std::string& path = "") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    void answerWith(Answer answer) {
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
    }
    std::vector<Request> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // Waits for the network, never for a timer.
    bool waitForRequests(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return received_.size() >= count; });
    }

  private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Request> received_;
    Answer answer_;
};

class DIZSendRecorder {
  public:
    struct Outcome {
        std::string callId;
        std::shared_ptr<const HTTPURLResponse> response;
        std::optional<Data> body;
        std::optional<Error> error;
    };

    DIZSendAsyncCompletionHandler handler() {
        return [this](const std::string& callId, std::shared_ptr<const HTTPURLResponse> response,
                      std::optional<Data> body, std::optional<Error> error) {
            std::lock_guard lock(mutex_);
            outcomes_.push_back({callId, std::move(response), std::move(body), std::move(error)});
            changed_.notify_all();
        };
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return outcomes_.size();
    }
    // The first answer, once the network has brought it.
    std::optional<Outcome> wait() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !outcomes_.empty(); }))
            return std::nullopt;
        return outcomes_.front();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Outcome> outcomes_;
};
