// Cost of writing one crash report of the whole process, as crash time pays it: suspending the
// other threads, walking every stack, listing the images and writing the file. The goal for 20
// threads is under 10 ms; the run with no other thread is the baseline of the fixed part.
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/async/dzcrash_async.h"
#include "crash_reporter/dzcrash_log_writer.h"

namespace {

// Threads parked a few calls deep in a futex wait until the helper goes, as idle threads sit.
[[gnu::noinline]] void parkDeep(int depth, std::atomic<uint32_t>* release, std::atomic<int>* parked) {
    if (depth > 0) {
        parkDeep(depth - 1, release, parked);
        asm volatile("" ::: "memory");
        return;
    }
    ++*parked;
    while (release->load() == 0) {
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(release), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
    }
}

class ParkedThreads {
  public:
    explicit ParkedThreads(int count) {
        for (int i = 0; i < count; ++i) threads_.emplace_back([this] { parkDeep(20, &release_, &parked_); });
        while (parked_.load() < count) std::this_thread::yield();
    }
    ~ParkedThreads() {
        release_.store(1);
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&release_), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr,
                nullptr, 0);
        for (auto& thread : threads_) thread.join();
    }

  private:
    std::atomic<uint32_t> release_{0};
    std::atomic<int> parked_{0};
    std::vector<std::thread> threads_;
};

struct WriteRequest {
    dzcrash_log_writer_state* writer;
    const char* path;
};

void BM_CrashWrite(benchmark::State& state) {
    ParkedThreads parked(static_cast<int>(state.range(0)));
    dzcrash_log_writer_state writer;
    dzcrash_log_writer_init(&writer, "com.example.bench", "1", "1.0", 0, false);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("bench-crash-" + std::to_string(getpid()))).string();
    WriteRequest request{&writer, path.c_str()};
    for (auto _ : state) {
        const dzcrash_error_t result = dzcrash_async_thread_state_capture_current(
            [](dzcrash_async_thread_state* threadState, void* context) {
                auto* write = static_cast<WriteRequest*>(context);
                const dzcrash_log_writer_signal signal{{11, 1, true}, 0, nullptr};
                return dzcrash_write_report_file(write->writer, write->path, dzcrash_shared_image_list(),
                                                 dzcrash_thread_self(), threadState, &signal);
            },
            &request);
        if (result != DZCRASH_ESUCCESS) state.SkipWithError("the report was not written");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(std::filesystem::file_size(path)));
    std::filesystem::remove(path);
    dzcrash_log_writer_release(&writer);
}
BENCHMARK(BM_CrashWrite)->Arg(0)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
