#include <gtest/gtest.h>

#include "platform/carbon/SymbolicHotKeys_simulated.h"
#include "platform/foundation/SharedInstance.h"

namespace {

TEST(SymbolicHotKeys, ListIsCopiedOrAFailureLeavesTheOutputAlone) {
    resetAllForTesting();
    Value entry(Dictionary{
        {kHISymbolicHotKeyEnabled, true}, {kHISymbolicHotKeyCode, 49}, {kHISymbolicHotKeyModifiers, 0x100}});
    SimulatedSymbolicHotKeys::setHotKeys({entry});
    std::vector<Value> hotKeys;
    ASSERT_EQ(CopySymbolicHotKeys(&hotKeys), noErr);
    ASSERT_EQ(hotKeys.size(), 1u);
    EXPECT_EQ(hotKeys[0], entry);

    SimulatedSymbolicHotKeys::setReadStatus(-50);
    std::vector<Value> untouched{Value("kept")};
    EXPECT_EQ(CopySymbolicHotKeys(&untouched), -50);
    EXPECT_EQ(untouched, std::vector<Value>{Value("kept")});
    EXPECT_EQ(CopySymbolicHotKeys(nullptr), paramErr);

    resetAllForTesting();
    ASSERT_EQ(CopySymbolicHotKeys(&hotKeys), noErr);
    EXPECT_TRUE(hotKeys.empty());
}

}  // namespace
