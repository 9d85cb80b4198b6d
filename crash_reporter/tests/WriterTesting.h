#pragma once
// Helpers for the writer's tests: a scratch report file, the calling thread's state at a given
// stack depth, and threads parked deep in their own stacks.
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/async/dzcrash_async_thread_state.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/FileLocations.h"
#include "testing/Eventually.h"

inline std::filesystem::path scratchDirectory() {
    const char* base = std::getenv("QUORVANE_TEST_TMP");
    std::filesystem::path directory = base ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(directory);
    return directory;
}

// A report file path, removed with the helper.
class ScratchReport {
  public:
    ScratchReport() {
        std::string pattern = (scratchDirectory() / "report-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) close(fd);
        path_ = pattern;
    }
    ~ScratchReport() { std::filesystem::remove(path_); }
    ScratchReport(const ScratchReport&) = delete;
    ScratchReport& operator=(const ScratchReport&) = delete;

    const std::filesystem::path& path() const { return path_; }
    Data contents() const {
        return FileLocations::readFile(path_, nullptr, 16 * 1024 * 1024).value_or(Data{});
    }

  private:
    std::filesystem::path path_;
};

// Recurses `depth` calls deep, then runs `bottom`; every level keeps its frame (no tail call).
[[gnu::noinline]] inline int recurseThen(int depth, const std::function<int()>& bottom) {
    if (depth == 0) return bottom();
    const int result = recurseThen(depth - 1, bottom);
    asm volatile("" ::: "memory");
    return result + 1;
}

// Calls `body` with the calling thread's state, captured where the capture is called.
inline void withCurrentState(const std::function<void(const dzcrash_async_thread_state*)>& body) {
    auto* function = const_cast<std::function<void(const dzcrash_async_thread_state*)>*>(&body);
    dzcrash_async_thread_state_capture_current(
        [](dzcrash_async_thread_state* state, void* context) {
            (*static_cast<std::function<void(const dzcrash_async_thread_state*)>*>(context))(state);
            return DZCRASH_ESUCCESS;
        },
        function);
}

// Threads each parked `depth` calls deep in a futex wait, until the helper goes. The wait is a
// raw system call, so the frame-pointer chain from the parked instruction leads through our frames.
class ParkedThreads {
  public:
    ParkedThreads(int count, int depth) {
        for (int i = 0; i < count; ++i) {
            threads_.emplace_back([this, depth] {
                const auto id = static_cast<thread_t>(syscall(SYS_gettid));
                recurseThen(depth, [this, id] {
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        ids_.push_back(id);
                    }
                    ++parked_;
                    while (release_.load() == 0) {
                        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&release_), FUTEX_WAIT_PRIVATE, 0,
                                nullptr, nullptr, 0);
                    }
                    return 0;
                });
            });
        }
        eventually([this, count] { return parked_.load() == count; });
    }
    ~ParkedThreads() {
        release_.store(1);
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&release_), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr,
                nullptr, 0);
        for (auto& thread : threads_) thread.join();
    }
    ParkedThreads(const ParkedThreads&) = delete;
    ParkedThreads& operator=(const ParkedThreads&) = delete;

    std::vector<thread_t> ids() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ids_;
    }

  private:
    std::mutex mutex_;
    std::vector<thread_t> ids_;
    std::atomic<uint32_t> release_{0};
    std::atomic<int> parked_{0};
    std::vector<std::thread> threads_;
};

// The number of threads of the process right now.
inline size_t processThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}
