#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windowserver/SimulatedDesktop.h"

namespace {

using Stage = SimulatedDesktop::InputStage;

SimulatedInputEvent key(uint16_t keyCode) {
    SimulatedInputEvent event;
    event.keyCode = keyCode;
    return event;
}

// The session sees every event first, whenever it subscribed; the first subscriber to consume an
// event ends its way; a subscription that goes, even while a post is under way, is not called.
TEST(SimulatedInput, SessionFirstUntilConsumedAndGoneSubscribersAreSkipped) {
    auto& desktop = SimulatedDesktop::shared();
    std::vector<std::string> seen;
    SimulatedInputSubscription second;
    auto first = desktop.subscribeToInput(Stage::Application, [&](const SimulatedInputEvent& event) {
        seen.push_back("first " + std::to_string(event.keyCode));
        if (event.keyCode == 2) second = SimulatedInputSubscription();
        return false;
    });
    second = desktop.subscribeToInput(Stage::Application, [&](const SimulatedInputEvent& event) {
        seen.push_back("second " + std::to_string(event.keyCode));
        return false;
    });
    {
        auto session = desktop.subscribeToInput(Stage::Session, [&](const SimulatedInputEvent& event) {
            seen.push_back("session " + std::to_string(event.keyCode));
            return event.keyCode == 1;
        });
        EXPECT_TRUE(desktop.postInput(key(1)));
        EXPECT_FALSE(desktop.postInput(key(2)));
        EXPECT_FALSE(desktop.postInput(key(3)));
    }
    desktop.reset();  // keeps the subscribers
    EXPECT_FALSE(desktop.postInput(key(4)));
    EXPECT_EQ(seen, (std::vector<std::string>{"session 1", "session 2", "first 2", "session 3", "first 3",
                                              "first 4"}));
}

}  // namespace
