#include "platform/foundation/OperationQueue.h"

#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"

OperationQueue::OperationQueue() : state_(std::make_shared<State>()) {}

OperationQueue::~OperationQueue() {
    std::deque<Block> dropped;
    std::lock_guard lock(state_->mutex);
    dropped.swap(state_->waiting);
    state_->idle.notify_all();
}

std::string OperationQueue::name() const {
    std::lock_guard lock(state_->mutex);
    return state_->name;
}

void OperationQueue::setName(std::string name) {
    std::lock_guard lock(state_->mutex);
    state_->name = std::move(name);
}

int64_t OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int64_t count) {
    std::unique_lock lock(state_->mutex);
    state_->maxConcurrent = (count == kDefaultMaxConcurrentOperationCount || count >= 1) ? count : 1;
    startWhatMayRun(state_, lock);
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(state_->mutex);
    return state_->suspended;
}

void OperationQueue::setSuspended(bool suspended) {
    std::unique_lock lock(state_->mutex);
    state_->suspended = suspended;
    startWhatMayRun(state_, lock);
}

void OperationQueue::addOperation(Block block) {
    if (!block) return;
    std::unique_lock lock(state_->mutex);
    state_->waiting.push_back(std::move(block));
    startWhatMayRun(state_, lock);
}

size_t OperationQueue::operationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->waiting.size() + state_->running;
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(state_->mutex);
    state_->idle.wait(lock, [this] { return state_->waiting.empty() && state_->running == 0; });
}

void OperationQueue::startWhatMayRun(const std::shared_ptr<State>& state,
                                     std::unique_lock<std::mutex>& lock) {
    std::vector<Block> starting;
    while (!state->suspended && !state->waiting.empty() &&
           (state->maxConcurrent == kDefaultMaxConcurrentOperationCount ||
            state->running < static_cast<size_t>(state->maxConcurrent))) {
        starting.push_back(std::move(state->waiting.front()));
        state->waiting.pop_front();
        ++state->running;
    }
    if (starting.empty()) {
        if (state->waiting.empty() && state->running == 0) state->idle.notify_all();
        return;
    }
    lock.unlock();
    for (auto& block : starting)
        DispatchQueue::global()->async([state, block = std::move(block)] {
            block();
            std::unique_lock lock(state->mutex);
            --state->running;
            startWhatMayRun(state, lock);
        });
    lock.lock();
}
