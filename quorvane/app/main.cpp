// The process entry. Without arguments the agent runs until it is told to stop (SIGINT or SIGTERM):
// on the X11 display that DISPLAY names when one answers, else on a default simulated desktop
// (QUORVANE_DESKTOP=x11 or =simulated forces the one or the other). With --simulate it plays a
// scenario file on the simulated desktop and exits. This is the one place that picks the desktop.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/DelegateForwarder/DIZAppDelegateForwarder.h"
#include "measurement/engine/ZDMAnalytics.h"
#include "measurement/engine/ZDMMeasurementIdle.h"
#include "measurement/library/ZDMMeasurementLibrary.h"
#include "platform/appkit/NSApplication.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/windowserver/SimulatedDesktop.h"
#include "platform/windowserver/X11Desktop.h"
#include "quorvane/AgentBundle.h"
#include "quorvane/AppDelegate.h"
#include "quorvane/UsageEvents.h"
#include "quorvane/simulation/ScenarioPlayer.h"

namespace {
constexpr int kUsageError = 2;
// A normal end (Quit, SIGINT or SIGTERM, the end of a scenario) first lets the reporting client
// store the logs enqueued until then; bounded, so a stalled disk cannot keep the process alive.
constexpr double kStoreEnqueuedLogsSeconds = 5;
// Likewise for what the measurement library was handed when a scenario ends.
constexpr double kMeasurementIdleSeconds = 5;

int usage() {
    std::cerr << "usage: quorvane [--simulate FILE]\n";
    return kUsageError;
}

void terminate() {
    DispatchQueue::main()->async([] { NSApplication::sharedApplication()->terminate(nullptr); });
}

void setUpDefaultDesktop() {
    SimulatedScreen screen;
    screen.bounds = {0, 0, 1440, 900};
    screen.insetTop = 25;
    SimulatedDesktop::shared().plugScreen(screen);
}

// Termination requests arrive as signals; a thread waits for them so that the agent terminates
// on its own main thread, as a quit from its menu does.
void terminateOnSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        int received = 0;
        sigwait(&signals, &received);
        terminate();
    }).detach();
}

// Connects to the X11 display when one is to be used; false, with the line to print, when the
// choice cannot be met. A display that goes away ends the agent as the end of the session would.
bool chooseDesktop(std::string* problem) {
    const char* forced = std::getenv("QUORVANE_DESKTOP");
    const std::string choice = forced ? forced : "";
    if (!choice.empty() && choice != "x11" && choice != "simulated") {
        *problem = "QUORVANE_DESKTOP must be x11 or simulated, not '" + choice + "'";
        return false;
    }
    const char* display = std::getenv("DISPLAY");
    const std::string name = display ? display : "";
    if (choice == "simulated" || (choice.empty() && name.empty())) {
        setUpDefaultDesktop();
        return true;
    }
    std::string error;
    if (!name.empty() && X11Desktop::connect(name, terminate, &error)) return true;
    if (choice == "x11") {
        *problem = name.empty() ? "QUORVANE_DESKTOP=x11 but DISPLAY is not set"
                                : "QUORVANE_DESKTOP=x11 but the X11 display '" + name + "' does not answer";
        return false;
    }
    setUpDefaultDesktop();
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    const bool simulate = argc == 3 && std::strcmp(argv[1], "--simulate") == 0;
    if (!simulate && argc != 1) return usage();
    // The desktop comes first: the application object, made as the telemetry connects below,
    // follows the screens of the desktop in use when it is made.
    std::string problem;
    if (!simulate && !chooseDesktop(&problem)) {
        std::cerr << "quorvane: " << problem << "\n";
        return kUsageError;
    }
    // As the measurement library's classes load, before anything can call them.
    ZDMInstallMeasurementLibrary();
    Bundle::setMainBundle(agentBundle());
    // As the reporting client's classes load, before the application gets its delegate: the
    // forwarder reads its Info.plist switch and buffers its trace until a log level is chosen.
    DIZAppDelegateForwarder::sharedInstance();
    UsageEvents::connectTelemetry();
    if (simulate) {
        const int status = ScenarioPlayer::play(argv[2], std::cout, std::cerr);
        ZDMWaitUntilMeasurementIdle(kMeasurementIdleSeconds);
        DIZDudIzizoz::waitForEnqueuedLogs(kStoreEnqueuedLogsSeconds);
        return status;
    }

    terminateOnSignals();
    auto interface = loadMainInterface();
    const int status = NSApplicationMain(interface.delegate);
    DIZDudIzizoz::waitForEnqueuedLogs(kStoreEnqueuedLogsSeconds);
    return status;
}
