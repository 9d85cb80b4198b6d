#pragma once
// Deferred calls on the main run loop, as performSelector:withObject:afterDelay:inModes: and
// cancelPreviousPerformRequestsWithTarget: make them: the block runs on a later pass of the main
// run loop (a delay of 0 means the next pass), unless its target cancels its requests first. Main
// thread only.
#include <functional>

void NSPerformAfterDelay(const void* target, double delay, std::function<void()> block);
// Forgets every request of `target` that has not run yet.
void NSCancelPreviousPerformRequests(const void* target);
