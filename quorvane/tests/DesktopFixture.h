#pragma once
// A fresh simulated desktop and a private home for each test of the agent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"
#include "testing/Eventually.h"

#include "platform/foundation/testing/TestHome.h"
#include "platform/windowserver/SimulatedDesktop.h"
#include "quorvane/AgentBundle.h"
#include "quorvane/UsageEvents.h"

inline SimulatedScreen screenAt(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
    SimulatedScreen screen;
    screen.bounds = {x, y, width, height};
    return screen;
}

inline const SimulatedScreen kScreenA = screenAt(0, 0, 1440, 900);
inline const SimulatedScreen kScreenB = screenAt(1440, 0, 1920, 1080);

inline void attachScreens(const std::vector<SimulatedScreen>& screens) {
    auto& desktop = SimulatedDesktop::shared();
    for (const auto& s : desktop.screens()) desktop.unplugScreen(s.displayID);
    for (const auto& s : screens) desktop.plugScreen(s);
}

inline SimulatedWindow windowAt(pid_t owner, CGWindowID number, CGRect bounds) {
    SimulatedWindow window;
    window.ownerPid = owner;
    window.number = number;
    window.bounds = bounds;
    return window;
}

// The event logs that reach the reporting client's analytics unit, as "r:<name>".
class ReportedEvents : public DIZChannelDelegate {
  public:
    explicit ReportedEvents(std::vector<std::string>& events) : events_(events) {}
    // On the thread that tracks the event, so in order with the measurement client's calls.
    void channelDidPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                              const std::string&, uint64_t) override {
        auto* unit = dynamic_cast<DIZChannelUnitProtocol*>(&channel);
        auto event = std::dynamic_pointer_cast<DIZEventLog>(log);
        if (unit && event && unit->configuration()->groupId() == DIZAnalytics::kGroupId)
            events_.push_back("r:" + event->name().value_or(""));
    }

  private:
    std::vector<std::string>& events_;
};

// A fresh desktop and home, in the agent's bundle, with the reporting client started as the agent
// starts it. Usage events are collected as "m:<name>" for the measurement client (a stand-in until
// its engine exists) and "r:<name>" as the reporting client's analytics unit receives them, in the
// order they were sent.
class DesktopTest : public ::testing::Test {
  protected:
    DesktopTest() {
        SimulatedDesktop::shared().reset();
        UsageEvents::connect([this](const std::string& name) { events.push_back("m:" + name); },
                             UsageEvents::trackWithReportingClient);
        startReportingClient();
    }
    ~DesktopTest() override {
        UsageEvents::connect(nullptr, nullptr);
        BackgroundActivity::waitUntilSettled(kTestPatience.count());
        resetAllForTesting();
        SimulatedDesktop::shared().reset();
    }

    // Starts the client unless a launch of the agent has, and watches the analytics unit. A test
    // that launches the agent anew calls it again.
    void startReportingClient() {
        if (!DIZDudIzizoz::isConfigured()) {
            if (const char* url = std::getenv("QUORVANE_LOG_URL")) DIZDudIzizoz::setLogUrl(url);
            DIZDudIzizoz::start(kTestAppSecret, {&DIZAnalytics::classObject(), &DIZCrashes::classObject()});
        }
        if (auto group = DIZDudIzizoz::sharedInstance()->channelGroup()) group->addDelegate(reported_);
    }

    SimulatedDesktop& desktop = SimulatedDesktop::shared();
    std::vector<std::string> events;
    TestHome home_{agentBundle()};

  private:
    static constexpr const char* kTestAppSecret = "6f1c2d3e-4a5b-4c6d-8e7f-9a0b1c2d3e4f";
    // The client's flush and retry timers wait for a test that moves time on.
    ScopedManualClock telemetryClock_;
    std::shared_ptr<ReportedEvents> reported_ = std::make_shared<ReportedEvents>(events);
};
