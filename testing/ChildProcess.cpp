#include "testing/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>

extern char** environ;

namespace {

std::string nameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

// The given entries, then every inherited one they do not replace.
std::vector<char*> environmentFor(const std::vector<std::string>& given) {
    std::vector<char*> entries;
    std::set<std::string> replaced;
    for (const auto& entry : given) {
        replaced.insert(nameOf(entry));
        entries.push_back(const_cast<char*>(entry.c_str()));
    }
    for (char** entry = environ; *entry; ++entry) {
        if (!replaced.contains(nameOf(*entry))) entries.push_back(*entry);
    }
    entries.push_back(nullptr);
    return entries;
}

}  // namespace

pid_t spawnChild(const std::vector<std::string>& arguments, const ChildProcessOptions& options) {
    if (arguments.empty()) return -1;
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp = environmentFor(options.environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    // The child's mask is set outright: it starts as a fresh process would, not with whatever the
    // spawning thread happens to block.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal : options.blockedSignals) sigaddset(&blocked, signal);
    posix_spawnattr_setsigmask(&attributes, &blocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

pid_t spawnThisTestBinary(const std::string& filter, const ChildProcessOptions& options) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return -1;
    return spawnChild({self.string(), "--gtest_filter=" + filter}, options);
}

std::optional<int> waitForChild(pid_t pid, double seconds) {
    if (pid <= 0) return std::nullopt;
    // A pid descriptor turns the child's end into something poll() can wait for with a bound.
    if (const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        int ready;
        do {
            ready = poll(&ended, 1, static_cast<int>(seconds * 1000));
        } while (ready < 0 && errno == EINTR);
        close(handle);
        if (ready == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return std::nullopt;
        }
    }
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == pid ? std::optional<int>(status) : std::nullopt;
}
