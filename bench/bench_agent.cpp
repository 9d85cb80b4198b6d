// The agent's costs that grow with what it looks after, each beside its baseline in the same run:
// - a hotkey press (switch, cycle, resize) against 20, 200 and 2,000 windows; the BigO line is the
//   per-window slope; the baseline is the window list that every press reads;
// - one scenario output line at those window counts, the launch of the same scenario subtracted;
// - the "Spaces" pane's reload at 20, 200 and 2,000 spaces against one read of the stored spaces;
// - start-up of `quorvane --simulate` on a trivial scenario against the process floor (the usage
//   error, which exits before the agent launches);
// - peak RSS of `quorvane --simulate` under 20 and 20,000 hotkey presses, and of a scenario as long
//   as the latter with 20 hotkey presses, which costs as much to read.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/appkit/NSApplication.h"
#include "platform/appkit/testing/EventSimulation.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/masshortcut/MASShortcutMonitor.h"
#include "platform/windowserver/SimulatedDesktop.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/ViewController.h"
#include "quorvane/WindowFinder.h"
#include "quorvane/WorkspaceManager.h"
#include "quorvane/simulation/ScenarioPlayer.h"

extern char** environ;

namespace {

constexpr NSEventModifierFlags kCmd = NSEventModifierFlagCommand;
constexpr NSEventModifierFlags kShift = NSEventModifierFlagShift;
constexpr int64_t kLeftKey = 18, kRightKey = 19;
const Coordinates kLeft{0, 25, 720, 900};
const Coordinates kRight{720, 25, 1440, 900};

// Nothing a benchmark starts may reach past this machine: the reporting client posts to a closed port.
void keepLogsLocal() {
    setenv("QUORVANE_LOG_URL", "http://127.0.0.1:9", 1);
}

void forgetAgent() {
    if (auto monitor = MASShortcutMonitor::sharedMonitor()) monitor->unregisterAllShortcuts();
    RunLoop::runUntilIdle();
    WorkspaceManager::resetSharedInstance();
    NSApplication::resetSharedApplication();
    DIZDudIzizoz::resetSharedInstance();
    DIZAnalytics::resetSharedInstance();
    DIZCrashes::resetSharedInstance();
}

// A scenario of `windows` windows of one application and `steps` presses of ⌘, the first
// `hotkeyPresses` of them the hotkey of the left half, the others a key that is no hotkey (the step
// writes its line and nothing else happens). Written as text, so that a long scenario does not
// raise this process's own peak RSS.
std::string scenarioText(int windows, int steps, int hotkeyPresses = 0) {
    std::ostringstream text;
    text << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "frontmost": 101,)"
         << R"( "apps": [{"pid": 101, "name": "Editor", "windows": [)";
    for (int i = 0; i < windows; ++i)
        text << (i ? ", " : "") << R"({"id": )" << i + 1 << R"(, "frame": [)" << 10 + i % 50 << ", "
             << 40 + i % 50 << ", 600, 600]}";
    text << R"(]}], "defaults": {"resizeModifier": )" << kShift << R"(, "firstLaunch": true, "spaces": [)"
         << R"({"name": "Left", "coordinates": [0, 25, 720, 900], "shortcut": {"keyCode": )" << kLeftKey
         << R"(, "modifierFlags": )" << kCmd << "}}]}, \"steps\": [";
    for (int i = 0; i < steps; ++i)
        text << (i ? ", " : "") << R"({"press": {"keyCode": )" << (i < hotkeyPresses ? kLeftKey : 99)
             << R"(, "modifierFlags": )" << kCmd << "}}";
    text << "]}";
    return text.str();
}

std::filesystem::path writeScenario(const std::filesystem::path& dir, const std::string& name,
                                    const std::string& text) {
    auto file = dir / name;
    std::ofstream(file) << text;
    return file;
}

// The figures of child processes come first, while this process is still small: a child's peak
// RSS as the system reports it is never below this process's own peak when it was started.
struct ChildResult {
    int status = -1;
    long peakRssKiB = 0;
};

// Runs the agent's executable with `args`, its output discarded, and waits for it.
ChildResult runAgent(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(QUORVANE_EXECUTABLE)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ChildResult result;
    if (posix_spawn(&pid, QUORVANE_EXECUTABLE, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
            result.peakRssKiB = usage.ru_maxrss;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

void BM_StartUpBaselineUsageError(benchmark::State& state) {
    for (auto _ : state)
        if (runAgent({"--no-such-option"}).status != 2) state.SkipWithError("the usage error did not exit 2");
}
BENCHMARK(BM_StartUpBaselineUsageError)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StartUpSimulateTrivialScenario(benchmark::State& state) {
    keepLogsLocal();
    TestHome home;
    auto file = writeScenario(home.path(), "trivial.json", R"({"screens": [{"bounds": [0, 0, 1440, 900]}]})");
    for (auto _ : state)
        if (runAgent({"--simulate", file.string()}).status != 0) state.SkipWithError("the scenario failed");
}
BENCHMARK(BM_StartUpSimulateTrivialScenario)->UseRealTime()->Unit(benchmark::kMillisecond);

long ownPeakRssKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// Peak RSS of a scenario of {steps, hotkey presses among them}. Scenarios of equal length differ
// only in what the presses make the agent do, so their input costs the same to read.
void BM_PeakRssUnderPresses(benchmark::State& state) {
    keepLogsLocal();
    TestHome home;
    int steps = static_cast<int>(state.range(0));
    int presses = static_cast<int>(state.range(1));
    auto file = writeScenario(home.path(), "presses.json", scenarioText(4, steps, presses));
    long peak = 0;
    for (auto _ : state) {
        auto run = runAgent({"--simulate", file.string()});
        if (run.status != 0) state.SkipWithError("the scenario failed");
        peak = std::max(peak, run.peakRssKiB);
    }
    if (peak <= ownPeakRssKiB()) state.SkipWithError("hidden by this process's own peak: run it alone");
    state.counters["peak_rss_MiB"] = benchmark::Counter(double(peak) / 1024);
}
BENCHMARK(BM_PeakRssUnderPresses)
    ->Args({20, 20})
    ->Args({20000, 20})
    ->Args({20000, 20000})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// `count` windows of four applications, alternately inside the left and the right half of one
// screen, each half a space with its hotkey (⌘1, ⌘2) and resize hotkey (⇧ added).
class PressDesktop {
  public:
    explicit PressDesktop(int count) {
        auto& desktop = SimulatedDesktop::shared();
        desktop.reset();
        SimulatedScreen screen;
        screen.bounds = {0, 0, 1440, 900};
        screen.insetTop = 25;
        desktop.plugScreen(screen);
        for (pid_t pid = 100; pid < 104; ++pid) desktop.addApplication(pid, "App");
        for (int i = 0; i < count; ++i) {
            SimulatedWindow window;
            window.number = static_cast<CGWindowID>(i + 1);
            window.ownerPid = 100 + i % 4;
            CGFloat x = (i % 2 ? kRight[0] : kLeft[0]) + 10 + i % 50;
            window.bounds = {x, CGFloat(40 + i % 50), 600, 600};
            desktop.addWindow(window);
        }
        desktop.activateApplication(100);
        UserDefaultsManager::saveResizeModifier(kShift);
        UserDefaultsManager::addGroup("Left", MASShortcut::shortcutWithKeyCode(kLeftKey, kCmd), kLeft[0],
                                      kLeft[1], kLeft[2], kLeft[3]);
        UserDefaultsManager::addGroup("Right", MASShortcut::shortcutWithKeyCode(kRightKey, kCmd), kRight[0],
                                      kRight[1], kRight[2], kRight[3]);
        WorkspaceManager::shared()->registerWorkspaceShortcuts();
    }
    ~PressDesktop() {
        forgetAgent();
        SimulatedDesktop::shared().reset();
    }

    // As the scenario player presses: the hotkey's action runs on the main queue.
    static void press(int64_t keyCode, NSEventModifierFlags flags) {
        simulate::pressKey(static_cast<uint16_t>(keyCode), flags);
        RunLoop::runUntilIdle();
    }

  private:
    TestHome home_;
};

void windowCounts(benchmark::internal::Benchmark* b) {
    b->Arg(20)->Arg(200)->Arg(2000)->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);
}

void BM_PressBaselineWindowList(benchmark::State& state) {
    PressDesktop desktop(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(onScreenWindowList(minimumWindowHeight));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PressBaselineWindowList)->Apply(windowCounts);

// The focused window is always in the other half, so every press switches.
void BM_PressSwitch(benchmark::State& state) {
    PressDesktop desktop(static_cast<int>(state.range(0)));
    bool left = true;
    for (auto _ : state) {
        PressDesktop::press(left ? kLeftKey : kRightKey, kCmd);
        left = !left;
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PressSwitch)->Apply(windowCounts);

void BM_PressCycle(benchmark::State& state) {
    PressDesktop desktop(static_cast<int>(state.range(0)));
    PressDesktop::press(kLeftKey, kCmd);
    for (auto _ : state) PressDesktop::press(kLeftKey, kCmd);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PressCycle)->Apply(windowCounts);

void BM_PressResize(benchmark::State& state) {
    PressDesktop desktop(static_cast<int>(state.range(0)));
    PressDesktop::press(kLeftKey, kCmd);
    for (auto _ : state) PressDesktop::press(kLeftKey, kCmd | kShift);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_PressResize)->Apply(windowCounts);

// Each run in a home of its own, and only once the work it left on other threads has finished:
// two runs of the reporting client never share, or lock, one log store.
double secondsToPlay(const std::filesystem::path& file) {
    TestHome home;
    std::ostringstream out, err;
    auto start = std::chrono::steady_clock::now();
    int status = ScenarioPlayer::play(file, out, err);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    forgetAgent();
    BackgroundActivity::waitUntilIdle(5);
    if (status != 0) std::abort();
    return elapsed.count();
}

// Per line: the run with 1,000 steps less the run without steps, over 1,000.
void BM_ScenarioOutputLine(benchmark::State& state) {
    constexpr int kSteps = 1000;
    keepLogsLocal();
    TestHome files;
    int windows = static_cast<int>(state.range(0));
    auto launchOnly = writeScenario(files.path(), "launch.json", scenarioText(windows, 0));
    auto withSteps = writeScenario(files.path(), "steps.json", scenarioText(windows, kSteps));
    double launch = 0;
    for (auto _ : state) {
        double base = secondsToPlay(launchOnly);
        launch += base;
        state.SetIterationTime(std::max(0.0, secondsToPlay(withSteps) - base) / kSteps);
    }
    state.counters["launch_ms"] = benchmark::Counter(launch * 1e3 / double(state.iterations()));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ScenarioOutputLine)->Apply(windowCounts)->UseManualTime()->Iterations(3);

// `count` spaces stored for the current screen, and the pane built on them.
class StoredSpaces {
  public:
    explicit StoredSpaces(int count) {
        auto& desktop = SimulatedDesktop::shared();
        desktop.reset();
        SimulatedScreen screen;
        screen.bounds = {0, 0, 1440, 900};
        desktop.plugScreen(screen);
        auto workspace = std::make_shared<Workspace>(UserDefaultsManager::currentScreenFrames());
        std::vector<std::shared_ptr<Group>> groups;
        for (int i = 0; i < count; ++i)
            groups.push_back(std::make_shared<Group>("Space " + std::to_string(i),
                                                     MASShortcut::shortcutWithKeyCode(i % 50, kCmd), kLeft));
        workspace->setGroups(std::move(groups));
        UserDefaultsManager::saveWorkspaces({workspace});
    }
    ~StoredSpaces() { SimulatedDesktop::shared().reset(); }

  private:
    TestHome home_;
};

void spaceCounts(benchmark::internal::Benchmark* b) {
    b->Arg(20)->Arg(200)->Arg(2000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);
}

void BM_SpacesPaneBaselineOneRead(benchmark::State& state) {
    StoredSpaces spaces(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(UserDefaultsManager::currentGroups());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SpacesPaneBaselineOneRead)->Apply(spaceCounts);

void BM_SpacesPaneReload(benchmark::State& state) {
    StoredSpaces spaces(static_cast<int>(state.range(0)));
    auto pane = std::make_shared<ViewController>();
    pane->view();
    for (auto _ : state) pane->reloadList();
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SpacesPaneReload)->Apply(spaceCounts);

}  // namespace

BENCHMARK_MAIN();
