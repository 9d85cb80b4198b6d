#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Observation.h"

namespace {

TEST(ObserverList, ObserversChangedDuringARoundTakeEffectAsTheyShould) {
    ObserverList<int> list;
    std::vector<std::string> heard;
    Cancellable second, late;
    bool added = false;
    Cancellable first = list.add([&](int n) {
        heard.push_back("first " + std::to_string(n));
        second.cancel();  // not called later in this round
        if (!std::exchange(added, true))
            late = list.add([&](int m) { heard.push_back("late " + std::to_string(m)); });
    });
    second = list.add([&](int n) { heard.push_back("second " + std::to_string(n)); });
    list.notify(1);
    list.notify(2);
    EXPECT_EQ(heard, (std::vector<std::string>{"first 1", "first 2", "late 2"}));
}

TEST(ObserverList, ATokenEndsItsObservationWhenDroppedOrReplacedAndMayOutliveTheList) {
    std::vector<int> heard;
    Cancellable kept;
    {
        ObserverList<int> list;
        std::optional<Cancellable> dropped = list.add([&](int n) { heard.push_back(-n); });
        kept = list.add([&](int n) { heard.push_back(n); });
        list.notify(1);
        dropped.reset();
        list.notify(2);
        kept = list.add([&](int n) { heard.push_back(10 * n); });
        list.notify(3);
    }
    kept.cancel();
    EXPECT_EQ(heard, (std::vector<int>{-1, 1, 2, 30}));
}

}  // namespace
