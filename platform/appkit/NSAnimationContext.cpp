#include "platform/appkit/NSAnimationContext.h"

#include <vector>

#include "platform/dispatch/DispatchQueue.h"

namespace {
std::vector<NSAnimationContext>& stack() {
    static std::vector<NSAnimationContext> contexts;
    return contexts;
}
int& runCount() {
    static int count = 0;
    return count;
}
}  // namespace

NSAnimationContext& NSAnimationContext::currentContext() {
    static NSAnimationContext outside;
    if (stack().empty()) {
        outside = NSAnimationContext();
        return outside;
    }
    return stack().back();
}

void NSAnimationContext::runAnimationGroup(const std::function<void(NSAnimationContext&)>& changes,
                                           std::function<void()> completion) {
    ++runCount();
    stack().emplace_back();
    changes(stack().back());
    double duration = stack().back().duration_;
    stack().pop_back();
    if (!completion) return;
    if (duration <= 0)
        completion();
    else
        DispatchQueue::main()->after(duration, std::move(completion));
}

int NSAnimationContext::groupsRun() {
    return runCount();
}
bool NSAnimationContext::isInsideGroup() {
    return !stack().empty();
}

void NSAnimationContext::afterCurrentDuration(std::function<void()> apply) {
    double duration = currentContext().duration();
    if (duration <= 0)
        apply();
    else
        DispatchQueue::main()->after(duration, std::move(apply));
}
