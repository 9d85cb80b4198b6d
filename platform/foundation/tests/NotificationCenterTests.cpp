#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

namespace {

TEST(NotificationCenterToken, ObservingLastsAsLongAsTheTokenWhereverItIsMoved) {
    std::vector<std::string> heard;
    NotificationCenter::Token outliving;
    {
        NotificationCenter center;
        auto dropped = std::make_optional(
            center.addObserver("n", [&](const Notification&) { heard.push_back("dropped"); }));
        auto kept = center.addObserver("n", [&](const Notification&) { heard.push_back("kept"); });
        center.post("n");
        dropped.reset();
        std::vector<NotificationCenter::Token> holder;
        holder.push_back(std::move(kept));
        center.post("n");
        outliving = std::move(holder.back());
        holder.clear();
        center.post("n");
    }
    outliving.cancel();  // the center is gone: nothing left to remove
    EXPECT_EQ(heard, (std::vector<std::string>{"dropped", "kept", "kept", "kept"}));
}

// An observer's block may own what owns other tokens; dropping it must not re-enter the center's lock.
TEST(NotificationCenterToken, ARemovedBlockMayReleaseObjectsThatDropTokensOfTheirOwn) {
    NotificationCenter center;
    struct Owner {
        NotificationCenter::Token token;
    };
    auto owner = std::make_shared<Owner>();
    owner->token = center.addObserver("other", [](const Notification&) {});
    int calls = 0;
    auto token =
        center.addObserver("n", [owner = std::move(owner), &calls](const Notification&) { ++calls; });
    center.post("n");
    token.cancel();
    center.post("n");
    center.post("other");
    EXPECT_EQ(calls, 1);
}

}  // namespace
