#pragma once
// Switches the application's login item on and off. The login item is the helper labelled with the
// main bundle's identifier + "-LaunchAtLoginHelper"; its state lives with the platform's login items
// and is read anew on every use. Main thread only.
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Observation.h"

class LaunchAtLogin final {
  public:
    class KVO;
    class Observable;
    class Toggle;

    LaunchAtLogin() = delete;

    // The helper's job "OnDemand" value; NO whenever the job list, the job or that value is missing.
    static bool isEnabled();
    // Switches the login item, telling observers in this order: the observable object's
    // objectWillChange, the KVO will-change, (the switch), the KVO did-change, the publisher's value.
    // A failed switch is not reported; the observers are told all the same.
    static void setEnabled(bool enabled);

    // Empty when the main bundle has no identifier: then isEnabled reads NO and setEnabled switches
    // nothing (but still tells the observers), rather than touching another program's login item.
    static const std::string& helperBundleIdentifier();
    static KVO& kvoObject();
    static Observable& observableObject();
    // Emits the last value set, or the value read when the publisher was first used, to each new
    // subscriber, then every value set.
    static AnyPublisher<bool> enabledPublisher();

    // Drops the values built on first use, so the next use builds them from the current main bundle.
    static void resetSharedInstances();
};

// Key-value observing of `isEnabled`: observers hear of each change before and after it happens.
class LaunchAtLogin::KVO {
  public:
    static constexpr std::string_view kIsEnabledKeyPath = "isEnabled";
    enum class Phase { willChange, didChange };
    using Observer = std::function<void(std::string_view keyPath, Phase phase)>;

    bool isEnabled() const { return LaunchAtLogin::isEnabled(); }
    void setEnabled(bool enabled) { LaunchAtLogin::setEnabled(enabled); }

    [[nodiscard]] Cancellable addObserver(Observer observer) { return observers_.add(std::move(observer)); }
    void willChangeValue(std::string_view keyPath) { observers_.notify(keyPath, Phase::willChange); }
    void didChangeValue(std::string_view keyPath) { observers_.notify(keyPath, Phase::didChange); }

  private:
    ObserverList<std::string_view, Phase> observers_;
};

// An observable object: objectWillChange fires before every change of `isEnabled`.
class LaunchAtLogin::Observable {
  public:
    bool isEnabled() const { return LaunchAtLogin::isEnabled(); }
    void setEnabled(bool enabled) { LaunchAtLogin::setEnabled(enabled); }

    ObserverList<>& objectWillChange() { return objectWillChange_; }

  private:
    ObserverList<> objectWillChange_;
};

// A switch bound to `isEnabled` through the observable object, with a text label.
class LaunchAtLogin::Toggle {
  public:
    static constexpr std::string_view kDefaultLabel = "Launch at login";

    Toggle() : label_(kDefaultLabel) {}
    explicit Toggle(std::string label) : label_(std::move(label)) {}

    const std::string& label() const { return label_; }
    bool isOn() const { return LaunchAtLogin::observableObject().isEnabled(); }
    void setOn(bool on) { LaunchAtLogin::observableObject().setEnabled(on); }

  private:
    std::string label_;
};
