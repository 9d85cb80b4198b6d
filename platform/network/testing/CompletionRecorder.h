#pragma once
// Records the completions of HTTP requests (body, response, error, and the queue they ran on) from
// any thread, and waits for the first one on a condition variable: the network is waited for, never
// a timer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Error.h"
#include "platform/network/URLSession.h"
#include "testing/Eventually.h"

struct HTTPOutcome {
    std::optional<Data> body;
    std::shared_ptr<const HTTPURLResponse> response;
    std::optional<Error> error;
    std::string queueLabel;  // empty when the completion ran on no dispatch queue
};

class CompletionRecorder {
  public:
    std::function<void(std::optional<Data>, std::shared_ptr<const HTTPURLResponse>, std::optional<Error>)>
    handler() {
        return [this](std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> response,
                      std::optional<Error> error) {
            const DispatchQueue* queue = DispatchQueue::current();
            std::lock_guard lock(mutex_);
            outcomes_.push_back({std::move(body), std::move(response), std::move(error),
                                 queue ? queue->label() : std::string()});
            changed_.notify_all();
        };
    }
    size_t calls() {
        std::lock_guard lock(mutex_);
        return outcomes_.size();
    }
    // The first outcome, once it has come; an empty one (and a failed expectation) when it does not.
    HTTPOutcome wait() {
        std::unique_lock lock(mutex_);
        bool came = changed_.wait_for(lock, kTestPatience, [this] { return !outcomes_.empty(); });
        EXPECT_TRUE(came) << "no completion within " << kTestPatience.count() << " s";
        return came ? outcomes_.front() : HTTPOutcome{};
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<HTTPOutcome> outcomes_;
};
