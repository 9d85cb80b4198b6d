#pragma once
// Runs work on a thread of its own and waits up to kTestPatience for it, for tests of code that
// calls out while another thread may call in. Threads are joined only when the helper goes, so a
// call that stays blocked fails the test instead of hanging it.
#include <functional>
#include <future>
#include <mutex>
#include <vector>

#include "testing/Eventually.h"

class OtherThreads {
  public:
    // Whether the work finished in time.
    bool run(std::function<void()> work) {
        std::future<void> done = std::async(std::launch::async, std::move(work));
        const bool finished = done.wait_for(kTestPatience) == std::future_status::ready;
        std::lock_guard lock(mutex_);
        running_.push_back(std::move(done));
        return finished;
    }

  private:
    std::mutex mutex_;
    std::vector<std::future<void>> running_;
};
