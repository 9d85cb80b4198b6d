// diz_crashes_helper <nullPointer|abort|throw|advance> <user id> [seconds]
// Starts the reporting client with the analytics and crash services in QUORVANE_HOME, sending to
// QUORVANE_LOG_URL when it is set; tracks an event, sets the user id and prints "sessionId <id>" and
// "userId <id>" on stdout. Then it crashes as asked in the services' default handler mode, or, for
// "advance", moves its clock forward one second at a time for [seconds] seconds, letting the work each
// second sets off finish before the next. Exits 2 on a bad command line, 0 after "advance".
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Context/DIZSessionContext.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "testing/DeliberateFault.h"

namespace {
constexpr const char* kAppSecret = "0b4d7c2e-5a61-4f3e-9d8b-7c1a2e3f4b5c";
constexpr double kSettleSeconds = 60;
constexpr int kUsageError = 2;

[[noreturn]] void throwUncaught() {
    throw std::runtime_error("boom");
}

double wallNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void settle() {
    if (!BackgroundActivity::waitUntilSettled(kSettleSeconds)) std::fprintf(stderr, "still busy\n");
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return kUsageError;
    const std::string mode = argv[1];
    const bool advancing = mode == "advance";
    if (!advancing && mode != "nullPointer" && mode != "abort" && mode != "throw") return kUsageError;
    const int seconds = advancing && argc > 3 ? std::atoi(argv[3]) : 0;

    // On the real time, as the reporter stamps its crashes with it; moved by hand from there.
    ScopedManualClock clock(wallNow());
    Bundle::setMainBundle(DIZHostBundle());
    if (const char* logUrl = std::getenv("QUORVANE_LOG_URL"); logUrl && *logUrl)
        DIZDudIzizoz::setLogUrl(logUrl);
    DIZDudIzizoz::start(kAppSecret, {&DIZAnalytics::classObject(), &DIZCrashes::classObject()});
    DIZAnalytics::trackEvent("helper_ran");
    DIZDudIzizoz::setUserId(std::string(argv[2]));
    settle();
    std::printf("sessionId %s\nuserId %s\n",
                DIZSessionContext::sharedInstance()->sessionId().value_or("").c_str(),
                DIZDudIzizoz::userId().value_or("").c_str());
    std::fflush(stdout);

    if (mode == "nullPointer") storeThroughNull();
    if (mode == "abort") std::abort();
    if (mode == "throw") throwUncaught();
    for (int second = 0; second < seconds; ++second) {
        clock->advance(1);
        settle();
    }
    DIZDudIzizoz::waitForEnqueuedLogs(kSettleSeconds);
    return 0;
}
