#pragma once
// Waits for something that another thread, the network or another process does. The bound is
// generous because a loaded machine can hold a thread back for seconds; a test that passes only
// when its helpers are quick fails on the busiest machine first. Never stands in for a timer:
// timers move with the manual clock.
#include <chrono>
#include <thread>

inline constexpr std::chrono::seconds kTestPatience{20};

// True as soon as `predicate` holds; false if it still does not once kTestPatience has passed.
template <class Predicate>
bool eventually(Predicate&& predicate) {
    for (auto deadline = std::chrono::steady_clock::now() + kTestPatience;
         std::chrono::steady_clock::now() < deadline;) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return predicate();
}
