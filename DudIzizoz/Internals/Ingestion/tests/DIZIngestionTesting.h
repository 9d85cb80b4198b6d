#pragma once
// What the ingestion tests share: the local HTTP server and a recorder of an ingestion's answers.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Ingestion/DIZIngestionProtocol.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "testing/Eventually.h"

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
        if (!changed_.wait_for(lock, kTestPatience, [&] { return !outcomes_.empty(); })) return std::nullopt;
        return outcomes_.front();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Outcome> outcomes_;
};
