#pragma once
// Key-value observing: an object announces a change of one of its properties by a will-change notice
// before and a did-change notice after it, and every observer of that key hears of it with the
// values it asked for. A class posts the notices by hand where it turns automatic notices off for a
// key; its plain setters post them through changeValueForKey.
//
// Observers are held unretained: an observer removes itself before it goes. Notices reach observers
// on the thread that posts them, outside this object's own bookkeeping lock, so an observer may
// observe, stop observing and change values from its callback.
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/foundation/NSValueTransformer.h"

using NSKeyValueObservingOptions = unsigned;
inline constexpr NSKeyValueObservingOptions NSKeyValueObservingOptionNew = 0x01;
inline constexpr NSKeyValueObservingOptions NSKeyValueObservingOptionOld = 0x02;
inline constexpr NSKeyValueObservingOptions NSKeyValueObservingOptionInitial = 0x04;
inline constexpr NSKeyValueObservingOptions NSKeyValueObservingOptionPrior = 0x08;

// What one notice carries. A nil value is reported as NSNull (a null Value); a value the observer
// did not ask for is absent.
struct NSKeyValueChange {
    std::optional<AnyObject> newValue;
    std::optional<AnyObject> oldValue;
    bool notificationIsPrior = false;
};

class NSKeyValueObserving;

class NSKeyValueObserver {
  public:
    virtual ~NSKeyValueObserver() = default;
    virtual void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving& object,
                                        const NSKeyValueChange& change, void* context) = 0;
};

class NSKeyValueObserving {
  public:
    NSKeyValueObserving() = default;
    NSKeyValueObserving(const NSKeyValueObserving&) = delete;
    NSKeyValueObserving& operator=(const NSKeyValueObserving&) = delete;
    virtual ~NSKeyValueObserving() = default;

    // Key-value coding: the property named by `keyPath`; nil for a key the object does not have.
    virtual AnyObject valueForKeyPath(std::string_view keyPath) const;
    // Whether plain setters post the notices for `key` themselves (true unless a class says not).
    virtual bool automaticallyNotifiesObserversForKey(std::string_view key) const;
    // The keys whose changes also change `key`: observers of `key` hear of those changes too.
    virtual std::vector<std::string> keyPathsForValuesAffectingValueForKey(std::string_view key) const;

    // With Initial, the observer hears at once of the current value (no old value, never prior).
    void addObserver(NSKeyValueObserver* observer, const std::string& keyPath,
                     NSKeyValueObservingOptions options, void* context);
    // Removes the newest matching registration; nothing happens when there is none.
    void removeObserver(NSKeyValueObserver* observer, const std::string& keyPath, void* context);

    // Notices may nest, also for one key; each did-change pairs with the latest open will-change of
    // that key on the posting thread.
    void willChangeValueForKey(const std::string& key);
    void didChangeValueForKey(const std::string& key);

  protected:
    // Runs `change` between the notices for `key` when the key notifies automatically.
    void changeValueForKey(const std::string& key, const std::function<void()>& change);

  private:
    struct Registration {
        NSKeyValueObserver* observer;
        std::string keyPath;
        NSKeyValueObservingOptions options;
        void* context;
    };
    struct PendingChange {
        std::string key;
        std::thread::id thread;
        std::vector<std::pair<Registration, std::optional<AnyObject>>> observers;
    };

    // The registrations that a change of `key` concerns, the key itself first.
    std::vector<Registration> registrationsAffectedBy(const std::string& key);
    AnyObject reportable(std::string_view keyPath) const;
    bool isRegistered(const Registration& registration);

    std::mutex mutex_;
    std::vector<Registration> registrations_;
    std::vector<PendingChange> pending_;
};
