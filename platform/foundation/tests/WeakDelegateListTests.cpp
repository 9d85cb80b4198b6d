#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/foundation/WeakDelegateList.h"

namespace {

struct Delegate {
    int id;
};

std::vector<int> ids(const WeakDelegateList<Delegate>& list) {
    std::vector<int> out;
    for (const auto& delegate : list.snapshot()) out.push_back(delegate->id);
    return out;
}

TEST(WeakDelegateList, HoldsEachLiveDelegateOnceInJoiningOrder) {
    WeakDelegateList<Delegate> list;
    auto a = std::make_shared<Delegate>(Delegate{1});
    auto b = std::make_shared<Delegate>(Delegate{2});
    auto c = std::make_shared<Delegate>(Delegate{3});
    list.add(a);
    list.add(b);
    list.add(a);
    list.add(nullptr);
    list.add(c);
    EXPECT_EQ(ids(list), (std::vector<int>{1, 2, 3}));

    b.reset();
    list.remove(c);
    EXPECT_EQ(ids(list), std::vector<int>{1});
}

}  // namespace
