#pragma once
// Starts a real executable as a second process of a test. A test process already runs threads
// (queues, timers, local servers), and a fork() of it that goes on running our code may find a
// lock held by a thread that did not come along; posix_spawn runs nothing of ours in between.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

struct ChildProcessOptions {
    std::vector<std::string> environment{};  // "NAME=value" entries, on top of this process's own
    bool quiet = false;                      // stdout and stderr go to /dev/null
    std::vector<int> blockedSignals{};       // blocked in the child from its first instruction on
};

// The child's pid, or -1 when it could not be started.
pid_t spawnChild(const std::vector<std::string>& arguments, const ChildProcessOptions& options = {});
// This test binary once more, running only the tests that `filter` selects.
pid_t spawnThisTestBinary(const std::string& filter, const ChildProcessOptions& options = {});
// Waits for the child to end, at most `seconds` of real time, and returns its status as waitpid
// gives it; a child still running then is killed, and there is no status.
std::optional<int> waitForChild(pid_t pid, double seconds = 120);
