// dzcrash_crash_helper <base> <bsd|mach> <worker threads> <crash> [marker]
// Enables a reporter whose reports go below <base>, starts the worker threads, writes where the
// crashing function lies to <base>/crash-function, and crashes as <crash> says. A post-crash
// callback creates [marker] when one is named. Exits 3 when enabling fails, 2 on a bad command line.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crash_reporter/DZCrashReporter.h"
#include "platform/foundation/Exception.h"

extern "C" {

// Read through a volatile pointer, so the compiler cannot see the null it stores through.
volatile int* volatile nullTarget = nullptr;

// The faulting functions leave out the undefined-behaviour sanitizer's check of what they do on
// purpose: it would end the process with its own report before the store or the division ran, and
// the signal the reporter is there to see would never come.
[[gnu::noinline]] __attribute__((no_sanitize("null"))) void crashByNullDereference() {
    *nullTarget = 1;
}

[[gnu::noinline]] void crashByAbort() {
    abort();
}

[[gnu::noinline]] void crashByTrap() {
    __builtin_trap();
}

// Both operands unknown to the compiler, which would otherwise turn a division of 1 into a compare.
[[gnu::noinline]] __attribute__((no_sanitize("integer-divide-by-zero"))) int crashByDivision(int divisor) {
    volatile int numerator = 7;
    volatile int kept = divisor;
    return numerator / kept;
}

[[gnu::noinline]] int crashPastTruncatedMapping(volatile const char* beyondTheFile) {
    return *beyondTheFile;
}

[[gnu::noinline]] void crashByBreakpoint() {
    asm volatile("int3");
}

[[gnu::noinline]] void crashByWriteToReadOnlyPage(volatile char* page) {
    *page = 1;
}

[[gnu::noinline]] void crashByUncaughtCxxException() {
    throw std::runtime_error("uncaught");
}

// Never set: it only tells the compiler that the recursion could end.
volatile bool stopRecursing = false;

[[gnu::noinline]] int crashByStackOverflow(int depth) {
    if (stopRecursing) return depth;
    volatile char pad[256];
    pad[0] = static_cast<char>(depth);
    return crashByStackOverflow(depth + 1) + pad[0];
}
}

namespace {

const char* marker = nullptr;

void createMarker(siginfo_t*, ucontext_t*, void*) {
    const int fd = open(marker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
}

// Threads parked a few calls deep, as idle threads of an application sit.
std::atomic<uint32_t> release{0};
std::atomic<int> parked{0};

[[gnu::noinline]] void parkDeep(int depth) {
    if (depth > 0) {
        parkDeep(depth - 1);
        asm volatile("" ::: "memory");
        return;
    }
    ++parked;
    while (release.load() == 0) {
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&release), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
    }
}

void recordFunction(const std::string& base, const void* function) {
    Dl_info info{};
    void* entry = nullptr;
    size_t size = 0;
    if (dladdr1(function, &info, &entry, RTLD_DL_SYMENT) != 0 && entry) {
        size = static_cast<const ElfW(Sym)*>(entry)->st_size;
    }
    std::ofstream(base + "/crash-function") << reinterpret_cast<uintptr_t>(function) << " " << size << "\n";
}

// A file of one page mapped two pages long: the second page lies past the file's end.
volatile const char* pastTheEndOfAFile(const std::string& base) {
    const long page = sysconf(_SC_PAGESIZE);
    const std::string path = base + "/truncated";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, page) != 0) return nullptr;
    void* mapped = mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    return mapped == MAP_FAILED ? nullptr : static_cast<const char*>(mapped) + page;
}

volatile char* readOnlyPage() {
    void* page = mmap(nullptr, static_cast<size_t>(sysconf(_SC_PAGESIZE)), PROT_READ,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return page == MAP_FAILED ? nullptr : static_cast<char*>(page);
}

// Two threads hand the uncaught-exception handler an exception at once.
void raceUncaughtExceptions() {
    std::atomic<int> ready{0};
    auto race = [&](const char* name) {
        ++ready;
        while (ready.load() < 2) {
        }
        NSGetUncaughtExceptionHandler()(ExceptionRecord(name, "raced", {}, {0x1000, 0x2000}));
    };
    std::thread first(race, "First");
    std::thread second(race, "Second");
    first.join();
    second.join();
}

int crash(const std::string& kind, const std::string& base) {
    if (kind == "null") {
        recordFunction(base, reinterpret_cast<const void*>(&crashByNullDereference));
        crashByNullDereference();
    } else if (kind == "abort") {
        crashByAbort();
    } else if (kind == "trap") {
        crashByTrap();
    } else if (kind == "divide") {
        return crashByDivision(0);
    } else if (kind == "bus") {
        return crashPastTruncatedMapping(pastTheEndOfAFile(base));
    } else if (kind == "int3") {
        crashByBreakpoint();
    } else if (kind == "readonly") {
        volatile char* page = readOnlyPage();
        std::ofstream(base + "/page") << reinterpret_cast<uintptr_t>(page) << "\n";
        crashByWriteToReadOnlyPage(page);
    } else if (kind == "cxx") {
        crashByUncaughtCxxException();
    } else if (kind == "overflow") {
        return crashByStackOverflow(0);
    } else if (kind == "exception") {
        NSGetUncaughtExceptionHandler()(
            ExceptionRecord("NSGenericException", "", {}, {0x1111, 0x2222, 0x3333}));
    } else if (kind == "exception-race") {
        raceUncaughtExceptions();
    } else if (kind == "wait") {
        // Until a signal from outside ends it; never longer than a minute.
        alarm(60);
        std::ofstream(base + "/ready") << getpid() << "\n";
        for (;;) pause();
    } else {
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const std::string base = argv[1];
    const std::string mode = argv[2];
    const int workers = atoi(argv[3]);
    if (argc > 5) marker = argv[5];
    // A crash test leaves a report, not a core file.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    const uint64_t type =
        mode == "mach" ? DZCrashReporterSignalHandlerTypeMach : DZCrashReporterSignalHandlerTypeBSD;
    auto reporter = DZCrashReporter::initWithApplicationIdentifier(
        "com.quorvane.crash-helper", "1", std::nullopt,
        DZCrashReporterConfig::initWithSignalHandlerType(type, 0, true, base));
    if (marker) {
        const DZCrashReporterCallbacks callbacks{0, nullptr, createMarker};
        reporter->setCrashCallbacks(&callbacks);
    }
    Error error;
    if (!reporter->enableCrashReporter(&error)) {
        fprintf(stderr, "enable failed: %s\n", error.description.c_str());
        return 3;
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back([] { parkDeep(3); });
    while (parked.load() < workers) std::this_thread::yield();
    const int result = crash(argv[4], base);
    release.store(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&release), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr,
            0);
    for (auto& thread : threads) thread.join();
    return result;
}
