#pragma once
// A fresh simulated desktop and a private home for each test of the agent.
#include <gtest/gtest.h>

#include <vector>

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

// A fresh desktop and home, in the agent's bundle; usage events are collected as "m:<name>" for the
// measurement client and "r:<name>" for the reporting client, in the order they were sent.
class DesktopTest : public ::testing::Test {
  protected:
    DesktopTest() {
        SimulatedDesktop::shared().reset();
        UsageEvents::connect([this](const std::string& name) { events.push_back("m:" + name); },
                             [this](const std::string& name) { events.push_back("r:" + name); });
    }
    ~DesktopTest() override {
        UsageEvents::connect(nullptr, nullptr);
        SimulatedDesktop::shared().reset();
    }

    SimulatedDesktop& desktop = SimulatedDesktop::shared();
    std::vector<std::string> events;
    TestHome home_{agentBundle()};
};
