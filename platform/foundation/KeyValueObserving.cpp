#include "platform/foundation/KeyValueObserving.h"

#include <algorithm>

AnyObject NSKeyValueObserving::valueForKeyPath(std::string_view) const {
    return {};
}

bool NSKeyValueObserving::automaticallyNotifiesObserversForKey(std::string_view) const {
    return true;
}

std::vector<std::string> NSKeyValueObserving::keyPathsForValuesAffectingValueForKey(std::string_view) const {
    return {};
}

AnyObject NSKeyValueObserving::reportable(std::string_view keyPath) const {
    AnyObject value = valueForKeyPath(keyPath);
    return value.isNil() ? AnyObject(Value()) : value;
}

void NSKeyValueObserving::addObserver(NSKeyValueObserver* observer, const std::string& keyPath,
                                      NSKeyValueObservingOptions options, void* context) {
    if (!observer) return;
    {
        std::lock_guard lock(mutex_);
        registrations_.push_back({observer, keyPath, options, context});
    }
    if (options & NSKeyValueObservingOptionInitial) {
        NSKeyValueChange change;
        if (options & NSKeyValueObservingOptionNew) change.newValue = reportable(keyPath);
        observer->observeValueForKeyPath(keyPath, *this, change, context);
    }
}

void NSKeyValueObserving::removeObserver(NSKeyValueObserver* observer, const std::string& keyPath,
                                         void* context) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(registrations_.rbegin(), registrations_.rend(), [&](const Registration& r) {
        return r.observer == observer && r.keyPath == keyPath && r.context == context;
    });
    if (found != registrations_.rend()) registrations_.erase(std::next(found).base());
}

bool NSKeyValueObserving::isRegistered(const Registration& registration) {
    std::lock_guard lock(mutex_);
    return std::any_of(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
        return r.observer == registration.observer && r.keyPath == registration.keyPath &&
               r.context == registration.context;
    });
}

std::vector<NSKeyValueObserving::Registration> NSKeyValueObserving::registrationsAffectedBy(
    const std::string& key) {
    std::vector<Registration> all;
    {
        std::lock_guard lock(mutex_);
        all = registrations_;
    }
    std::vector<Registration> affected;
    for (const auto& registration : all)
        if (registration.keyPath == key) affected.push_back(registration);
    for (const auto& registration : all) {
        if (registration.keyPath == key) continue;
        auto affecting = keyPathsForValuesAffectingValueForKey(registration.keyPath);
        if (std::find(affecting.begin(), affecting.end(), key) != affecting.end())
            affected.push_back(registration);
    }
    return affected;
}

void NSKeyValueObserving::willChangeValueForKey(const std::string& key) {
    PendingChange pending{key, std::this_thread::get_id(), {}};
    for (const auto& registration : registrationsAffectedBy(key)) {
        std::optional<AnyObject> old;
        if (registration.options & (NSKeyValueObservingOptionOld | NSKeyValueObservingOptionPrior))
            old = reportable(registration.keyPath);
        pending.observers.emplace_back(registration, old);
    }
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(pending);
    }
    for (const auto& [registration, old] : pending.observers) {
        if (!(registration.options & NSKeyValueObservingOptionPrior)) continue;
        NSKeyValueChange change;
        change.notificationIsPrior = true;
        if (registration.options & NSKeyValueObservingOptionOld) change.oldValue = old;
        registration.observer->observeValueForKeyPath(registration.keyPath, *this, change,
                                                      registration.context);
    }
}

void NSKeyValueObserving::didChangeValueForKey(const std::string& key) {
    std::optional<PendingChange> pending;
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(pending_.rbegin(), pending_.rend(), [&](const PendingChange& p) {
            return p.key == key && p.thread == std::this_thread::get_id();
        });
        if (found == pending_.rend()) return;  // a did-change without its will-change tells nobody
        pending = std::move(*found);
        pending_.erase(std::next(found).base());
    }
    for (const auto& [registration, old] : pending->observers) {
        // An observer that went away between the two notices must not hear the second.
        if (!isRegistered(registration)) continue;
        NSKeyValueChange change;
        if (registration.options & NSKeyValueObservingOptionOld) change.oldValue = old;
        if (registration.options & NSKeyValueObservingOptionNew)
            change.newValue = reportable(registration.keyPath);
        registration.observer->observeValueForKeyPath(registration.keyPath, *this, change,
                                                      registration.context);
    }
}

void NSKeyValueObserving::changeValueForKey(const std::string& key, const std::function<void()>& change) {
    const bool notify = automaticallyNotifiesObserversForKey(key);
    if (notify) willChangeValueForKey(key);
    change();
    if (notify) didChangeValueForKey(key);
}
