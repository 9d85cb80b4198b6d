#include "platform/windowserver/SimulatedDesktop.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/SharedInstance.h"

SimulatedDesktop& SimulatedDesktop::shared() {
    // The world outside the process, handed out by reference: tests reset it with reset().
    static constinit SharedInstance<SimulatedDesktop> desktop{
        [] { return std::shared_ptr<SimulatedDesktop>(new SimulatedDesktop()); }, TestReset::keep};
    return *desktop.get();
}

void SimulatedDesktop::reset() {
    std::lock_guard lock(mutex_);
    screens_.clear();
    nextDisplayID_ = 1;
    applications_.clear();
    windows_.clear();
    frontmost_.reset();
    keyWindow_.reset();
    trusted_ = true;
    trustPrompts_ = 0;
    recordsCalls_ = false;
    calls_.clear();
}

std::vector<SimulatedScreen> SimulatedDesktop::screens() const {
    std::lock_guard lock(mutex_);
    return screens_;
}

CGDirectDisplayID SimulatedDesktop::plugScreen(SimulatedScreen screen) {
    {
        std::lock_guard lock(mutex_);
        auto taken = [&](CGDirectDisplayID id) {
            return std::any_of(screens_.begin(), screens_.end(), [&](auto& s) { return s.displayID == id; });
        };
        if (screen.displayID == 0 || taken(screen.displayID)) {
            while (taken(nextDisplayID_)) ++nextDisplayID_;
            screen.displayID = nextDisplayID_++;
        }
        screens_.push_back(screen);
    }
    notifyScreenObservers();
    return screen.displayID;
}

bool SimulatedDesktop::unplugScreen(CGDirectDisplayID displayID) {
    {
        std::lock_guard lock(mutex_);
        auto it =
            std::find_if(screens_.begin(), screens_.end(), [&](auto& s) { return s.displayID == displayID; });
        if (it == screens_.end()) return false;
        screens_.erase(it);
    }
    notifyScreenObservers();
    return true;
}

uint64_t SimulatedDesktop::addScreenObserver(ScreenObserver observer) {
    std::lock_guard lock(mutex_);
    screenObservers_[nextObserver_] = std::move(observer);
    return nextObserver_++;
}

void SimulatedDesktop::removeScreenObserver(uint64_t token) {
    std::lock_guard lock(mutex_);
    screenObservers_.erase(token);
}

void SimulatedDesktop::notifyScreenObservers() {
    std::vector<ScreenObserver> observers;
    {
        std::lock_guard lock(mutex_);
        for (auto& [token, observer] : screenObservers_) observers.push_back(observer);
    }
    for (auto& observer : observers) observer();
}

SimulatedInputSubscription::SimulatedInputSubscription(SimulatedInputSubscription&& other) noexcept
    : id_(std::exchange(other.id_, 0)) {}

SimulatedInputSubscription& SimulatedInputSubscription::operator=(
    SimulatedInputSubscription&& other) noexcept {
    if (this != &other) {
        if (id_) SimulatedDesktop::shared().unsubscribeFromInput(id_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

SimulatedInputSubscription::~SimulatedInputSubscription() {
    if (id_) SimulatedDesktop::shared().unsubscribeFromInput(id_);
}

SimulatedInputSubscription SimulatedDesktop::subscribeToInput(InputStage stage, InputSubscriber subscriber) {
    std::lock_guard lock(mutex_);
    auto after = std::find_if(inputSubscribers_.begin(), inputSubscribers_.end(),
                              [&](const InputEntry& entry) { return entry.stage > stage; });
    const uint64_t id = nextInputSubscriber_++;
    inputSubscribers_.insert(after, {id, stage, std::make_shared<InputSubscriber>(std::move(subscriber))});
    return SimulatedInputSubscription(id);
}

void SimulatedDesktop::unsubscribeFromInput(uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(inputSubscribers_, [&](const InputEntry& entry) { return entry.id == id; });
}

bool SimulatedDesktop::isSubscribedToInput(uint64_t id) const {
    std::lock_guard lock(mutex_);
    return std::any_of(inputSubscribers_.begin(), inputSubscribers_.end(),
                       [&](const InputEntry& entry) { return entry.id == id; });
}

bool SimulatedDesktop::postInput(const SimulatedInputEvent& event) {
    std::vector<InputEntry> subscribers;
    {
        std::lock_guard lock(mutex_);
        subscribers = inputSubscribers_;
    }
    for (const auto& entry : subscribers) {
        if (isSubscribedToInput(entry.id) && (*entry.subscriber)(event)) return true;
    }
    return false;
}

void SimulatedDesktop::addApplication(pid_t pid, std::string name) {
    std::lock_guard lock(mutex_);
    applications_[pid] = std::move(name);
}

bool SimulatedDesktop::hasApplication(pid_t pid) const {
    std::lock_guard lock(mutex_);
    return applications_.count(pid) > 0;
}

std::optional<std::string> SimulatedDesktop::applicationName(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto it = applications_.find(pid);
    if (it == applications_.end()) return std::nullopt;
    return it->second;
}

bool SimulatedDesktop::addWindow(SimulatedWindow window) {
    std::lock_guard lock(mutex_);
    if (!applications_.count(window.ownerPid) || find(window.number)) return false;
    windows_.push_back(window);
    return true;
}

SimulatedWindow* SimulatedDesktop::find(CGWindowID number) {
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](auto& w) { return w.number == number; });
    return it == windows_.end() ? nullptr : &*it;
}

const SimulatedWindow* SimulatedDesktop::find(CGWindowID number) const {
    return const_cast<SimulatedDesktop*>(this)->find(number);
}

std::optional<SimulatedWindow> SimulatedDesktop::window(CGWindowID number) const {
    std::lock_guard lock(mutex_);
    if (auto* w = find(number)) return *w;
    return std::nullopt;
}

std::vector<SimulatedWindow> SimulatedDesktop::windowsFrontToBack() const {
    std::lock_guard lock(mutex_);
    return windows_;
}

std::vector<CGWindowID> SimulatedDesktop::windowsOfApplication(pid_t pid) const {
    std::lock_guard lock(mutex_);
    std::vector<CGWindowID> out;
    for (auto& w : windows_)
        if (w.ownerPid == pid) out.push_back(w.number);
    return out;
}

std::optional<pid_t> SimulatedDesktop::frontmostApplication() const {
    std::lock_guard lock(mutex_);
    return frontmost_;
}

void SimulatedDesktop::activateApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    if (!applications_.count(pid)) return;
    frontmost_ = pid;
    keyWindow_.reset();
    for (auto& w : windows_) {
        if (w.ownerPid == pid && !w.minimized) {
            keyWindow_ = w.number;
            break;
        }
    }
}

std::optional<CGWindowID> SimulatedDesktop::focusedWindow() const {
    std::lock_guard lock(mutex_);
    if (!keyWindow_) return std::nullopt;
    auto* w = find(*keyWindow_);
    if (!w || w->minimized || w->ownerPid != frontmost_) return std::nullopt;
    return keyWindow_;
}

void SimulatedDesktop::raiseLocked(CGWindowID number) {
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](auto& w) { return w.number == number; });
    if (it != windows_.end()) std::rotate(windows_.begin(), it, it + 1);
}

bool SimulatedDesktop::raiseWindow(CGWindowID number) {
    std::lock_guard lock(mutex_);
    if (!find(number)) return false;
    raiseLocked(number);
    return true;
}

bool SimulatedDesktop::setWindowPosition(CGWindowID number, CGPoint position) {
    std::lock_guard lock(mutex_);
    auto* w = find(number);
    if (!w) return false;
    w->bounds.origin = position;
    return true;
}

namespace {
CGFloat clampToLimits(CGFloat value, CGFloat minimum, CGFloat maximum) {
    if (maximum > 0) value = std::min(value, maximum);
    if (minimum > 0) value = std::max(value, minimum);
    return value;
}
}  // namespace

bool SimulatedDesktop::setWindowSize(CGWindowID number, CGSize size) {
    std::lock_guard lock(mutex_);
    auto* w = find(number);
    if (!w) return false;
    w->bounds.size = {clampToLimits(size.width, w->minSize.width, w->maxSize.width),
                      clampToLimits(size.height, w->minSize.height, w->maxSize.height)};
    return true;
}

bool SimulatedDesktop::setMinimized(CGWindowID number, bool minimized) {
    std::lock_guard lock(mutex_);
    auto* w = find(number);
    if (!w) return false;
    w->minimized = minimized;
    return true;
}

bool SimulatedDesktop::setFrontProcess(pid_t pid, CGWindowID window) {
    std::lock_guard lock(mutex_);
    if (!applications_.count(pid)) return false;
    if (frontmost_ != pid) keyWindow_.reset();
    frontmost_ = pid;
    auto* w = find(window);
    if (w && w->ownerPid == pid) raiseLocked(window);
    return true;
}

bool SimulatedDesktop::makeKeyWindow(CGWindowID number) {
    std::lock_guard lock(mutex_);
    if (!find(number)) return false;
    keyWindow_ = number;
    return true;
}

bool SimulatedDesktop::trusted() const {
    std::lock_guard lock(mutex_);
    return trusted_;
}

void SimulatedDesktop::setTrusted(bool trusted) {
    std::lock_guard lock(mutex_);
    trusted_ = trusted;
}

void SimulatedDesktop::noteTrustPrompt() {
    std::lock_guard lock(mutex_);
    ++trustPrompts_;
}

int SimulatedDesktop::trustPrompts() const {
    std::lock_guard lock(mutex_);
    return trustPrompts_;
}

void SimulatedDesktop::setRecordsCalls(bool records) {
    std::lock_guard lock(mutex_);
    recordsCalls_ = records;
}

void SimulatedDesktop::recordCall(SimulatedCall call) {
    std::lock_guard lock(mutex_);
    if (recordsCalls_) calls_.push_back(std::move(call));
}

std::vector<SimulatedCall> SimulatedDesktop::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void SimulatedDesktop::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}
