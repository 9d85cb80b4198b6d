#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "crash_reporter/async/dzcrash_safe_list.h"
#include "testing/Eventually.h"

namespace {

using IntList = dzcrash_safe_list<int>;

std::atomic<int> releasedInts{0};
void countRelease(int&) {
    ++releasedInts;
}

std::vector<int> valuesOf(IntList& list) {
    std::vector<int> values;
    list.set_reading(true);
    for (auto* node = list.next(nullptr); node; node = list.next(node)) values.push_back(node->value);
    list.set_reading(false);
    return values;
}

IntList::node* nodeWith(IntList& list, int value) {
    for (auto* node = list.next(nullptr); node; node = list.next(node)) {
        if (node->value == value) return node;
    }
    return nullptr;
}

class SafeList : public testing::Test {
  protected:
    void SetUp() override { releasedInts = 0; }
};

}  // namespace

TEST_F(SafeList, KeepsOrderAndReleasesRemovedValuesWhenNobodyReads) {
    IntList list(countRelease);
    ASSERT_TRUE(list.append(2));
    ASSERT_TRUE(list.append(3));
    ASSERT_TRUE(list.prepend(1));
    ASSERT_TRUE(list.append(4));
    EXPECT_EQ(valuesOf(list), (std::vector<int>{1, 2, 3, 4}));

    for (int value : {1, 3, 4}) list.remove(nodeWith(list, value));
    EXPECT_EQ(valuesOf(list), (std::vector<int>{2}));
    EXPECT_EQ(releasedInts, 3);

    ASSERT_TRUE(list.append(5));
    ASSERT_TRUE(list.prepend(0));
    EXPECT_EQ(valuesOf(list), (std::vector<int>{0, 2, 5}));
    list.remove(nodeWith(list, 2));
    list.remove(nodeWith(list, 0));
    list.remove(nodeWith(list, 5));
    EXPECT_EQ(valuesOf(list), std::vector<int>{});
    ASSERT_TRUE(list.prepend(6));
    EXPECT_EQ(valuesOf(list), (std::vector<int>{6}));
}

// A node removed under a reader keeps its way on to the nodes after it: neither the free stack nor
// a value added meanwhile may take it over until the reader has left.
TEST_F(SafeList, AReaderStandingOnARemovedNodeGoesOnToItsFormerSuccessor) {
    IntList list(countRelease);
    for (int value : {1, 2, 3, 4}) list.append(value);

    list.set_reading(true);
    IntList::node* standing = list.next(list.next(nullptr));
    ASSERT_EQ(standing->value, 2);
    std::thread([&] {
        list.remove(nodeWith(list, 1));
        list.remove(nodeWith(list, 2));
        list.append(5);
        list.prepend(0);
    }).join();
    std::vector<int> rest;
    for (auto* node = list.next(standing); node; node = list.next(node)) rest.push_back(node->value);
    EXPECT_EQ(standing->value, 2);
    EXPECT_EQ(rest, (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(releasedInts, 0);
    list.set_reading(false);

    list.append(6);  // the next writer finds no reader and frees what waited
    EXPECT_EQ(releasedInts, 2);
    EXPECT_EQ(valuesOf(list), (std::vector<int>{0, 3, 4, 5, 6}));
}

TEST_F(SafeList, RemovingANodeTwiceChangesNothing) {
    IntList list(countRelease);
    for (int value : {1, 2, 3}) list.append(value);
    list.set_reading(true);
    IntList::node* middle = nodeWith(list, 2);
    list.remove(middle);
    list.remove(middle);
    list.set_reading(false);
    list.append(4);
    EXPECT_EQ(valuesOf(list), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(releasedInts, 1);
}

namespace {

// Each value points at a record of its own on the heap, freed when its node leaves for good, so a
// reader that reaches a freed node reads freed memory (which the address sanitizer reports).
struct Record {
    uint64_t id;
    uint64_t check;  // ~id
};
struct Entry {
    Record* record;
    uint64_t id;
    int owner;
};

std::atomic<uint64_t> releasedRecords{0};
void freeRecord(Entry& entry) {
    delete entry.record;
    entry.record = nullptr;
    ++releasedRecords;
}

}  // namespace

TEST(SafeListStress, ReadersNeverSeeATornOrFreedNodeWhileWritersChangeTheList) {
    dzcrash_safe_list<Entry> list(freeRecord);
    releasedRecords = 0;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> nextId{1};
    std::atomic<uint64_t> faults{0};
    std::atomic<uint64_t> walks{0};

    std::vector<std::thread> threads;
    for (int owner = 0; owner < 4; ++owner) {
        threads.emplace_back([&, owner] {
            int mine = 0;
            for (uint64_t step = 0; !stop.load(std::memory_order_relaxed); ++step) {
                if (mine > 0 && (mine >= 32 || step % 3 == 2)) {
                    list.set_reading(true);
                    for (auto* node = list.next(nullptr); node; node = list.next(node)) {
                        if (node->value.owner == owner) {
                            list.remove(node);
                            --mine;
                            break;
                        }
                    }
                    list.set_reading(false);
                    continue;
                }
                const uint64_t id = nextId++;
                const Entry entry{new Record{id, ~id}, id, owner};
                if (step % 2 ? list.append(entry) : list.prepend(entry)) ++mine;
            }
        });
    }
    for (int reader = 0; reader < 4; ++reader) {
        threads.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                list.set_reading(true);
                size_t steps = 0;
                for (auto* node = list.next(nullptr); node && steps < 1000000;
                     node = list.next(node), ++steps) {
                    const Entry entry = node->value;
                    if (!entry.record || entry.record->id != entry.id || entry.record->check != ~entry.id)
                        ++faults;
                }
                if (steps == 1000000) ++faults;  // a cycle: a reader walked into nodes that left
                list.set_reading(false);
                ++walks;
                std::this_thread::yield();
            }
        });
    }

    // A second at least, and until nodes were freed while readers were about.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(eventually([&] {
        return std::chrono::steady_clock::now() - start >= std::chrono::seconds(1) && releasedRecords > 100;
    }));
    stop = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(faults, 0u);
    EXPECT_GT(walks, 0u);
}
