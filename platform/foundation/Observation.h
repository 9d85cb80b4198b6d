#pragma once
// Observer lists and the tokens that end an observation. A list calls its observers synchronously,
// in the order they were added, and an observer may add or cancel observers while it is called. A
// list does not lock: it and its tokens belong to one thread, or to callers that serialize its use.
#include <functional>
#include <memory>
#include <utility>
#include <vector>

// Ends one observation when cancelled or destroyed; outliving the observed object is harmless.
class Cancellable {
  public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Cancellable(Cancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Cancellable& operator=(Cancellable&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable() { cancel(); }

    void cancel() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }

  private:
    std::function<void()> cancel_;
};

template <class... Args>
class ObserverList {
  public:
    using Callback = std::function<void(Args...)>;

    [[nodiscard]] Cancellable add(Callback callback) {
        auto entry = std::make_shared<Entry>(Entry{std::move(callback), true});
        entries_->push_back(entry);
        std::weak_ptr<std::vector<std::shared_ptr<Entry>>> weakEntries = entries_;
        return Cancellable([weakEntries, entry] {
            entry->active = false;
            if (auto entries = weakEntries.lock()) std::erase(*entries, entry);
        });
    }

    void notify(Args... args) const {
        // A snapshot, so that observers added during this round wait for the next one.
        auto snapshot = *entries_;
        for (const auto& entry : snapshot)
            if (entry->active) entry->callback(args...);
    }

  private:
    struct Entry {
        Callback callback;
        bool active;
    };
    std::shared_ptr<std::vector<std::shared_ptr<Entry>>> entries_ =
        std::make_shared<std::vector<std::shared_ptr<Entry>>>();
};

// Holds a value and hands it to every subscriber: the current one on subscribing, then each one sent.
template <class T>
class CurrentValueSubject {
  public:
    explicit CurrentValueSubject(T value) : value_(std::move(value)) {}

    const T& value() const { return value_; }
    void send(T value) {
        value_ = std::move(value);
        T sent = value_;  // a subscriber that sends again must not change what the others receive
        subscribers_.notify(sent);
    }
    [[nodiscard]] Cancellable sink(std::function<void(const T&)> receive) {
        auto cancellable = subscribers_.add(receive);
        receive(value_);
        return cancellable;
    }

  private:
    T value_;
    ObserverList<const T&> subscribers_;
};

// A subject seen only as a source of values: subscribers cannot send.
template <class T>
class AnyPublisher {
  public:
    explicit AnyPublisher(std::shared_ptr<CurrentValueSubject<T>> subject) : subject_(std::move(subject)) {}
    [[nodiscard]] Cancellable sink(std::function<void(const T&)> receive) const {
        return subject_->sink(std::move(receive));
    }

  private:
    std::shared_ptr<CurrentValueSubject<T>> subject_;
};
