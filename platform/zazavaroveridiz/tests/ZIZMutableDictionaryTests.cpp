#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/zazavaroveridiz/ZIZMutableDictionary.h"

namespace {

TEST(ZIZMutableDictionary, StoresReplacesAndRemoves) {
    ZIZMutableDictionary dictionary;
    EXPECT_EQ(dictionary.objectForKeyedSubscript("a"), Value());
    dictionary.setObject("text", "a");
    dictionary.setObject(5, "a");
    EXPECT_EQ(dictionary.objectForKeyedSubscript("a"), Value(5));
    dictionary.setObject(Value(), "a");  // null removes, as the subscript setter does
    EXPECT_EQ(dictionary.count(), 0u);
    dictionary.setObject(1, "b");
    dictionary.removeAllObjects();
    EXPECT_EQ(dictionary.objectForKeyedSubscript("b"), Value());
}

TEST(ZIZMutableDictionary, EachOperationIsAtomicUnderConcurrentUse) {
    ZIZMutableDictionary dictionary;
    constexpr int kThreads = 4, kKeys = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&dictionary, t] {
            for (int k = 0; k < kKeys; ++k) {
                const std::string key = std::to_string(t) + ":" + std::to_string(k);
                dictionary.setObject(std::string(64, char('a' + t)), key);
                // A read sees a whole value of its own writer, never a torn one.
                EXPECT_EQ(dictionary.objectForKeyedSubscript(key), Value(std::string(64, char('a' + t))));
                dictionary.setObject(k, "shared");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(dictionary.count(), size_t{kThreads * kKeys + 1});
    EXPECT_EQ(dictionary.objectForKeyedSubscript("shared"), Value(kKeys - 1));
}

}  // namespace
