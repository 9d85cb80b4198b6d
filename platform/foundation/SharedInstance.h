#pragma once
// One instance of a type for the whole process: made on first use, once even when threads race
// for it, and never destroyed, so that no thread still running while the process exits meets a
// dead instance. Declare it at namespace scope in a source file:
//     constinit SharedInstance<Foo> sharedFoo;
// Tests start again from a new process's state with resetAllForTesting().
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>

// Drops every shared instance made so far, newest first, unless it is kept for the process, and runs
// every reset registered below; the next use of an instance makes a new one.
void resetAllForTesting();
// Has resetAllForTesting also run `reset`: for process state that lives beside a shared instance.
void registerResetForTesting(std::function<void()> reset);

// What resetAllForTesting does to an instance.
enum class TestReset {
    drop,  // the next use makes a new one, as a new process would
    // Lives as long as the process: it is handed out by reference, runs threads that must not be
    // restarted, or is what the program or the test installed.
    keep,
};

template <class T>
class SharedInstance {
  public:
    using Factory = std::shared_ptr<T> (*)();

    // By default T's default constructor makes the instance; a class that keeps it private befriends
    // SharedInstance<T>. Without a factory (nullptr) there is only what set() installs. The factory
    // runs under this instance's lock: it must not use this same instance.
    constexpr explicit SharedInstance(Factory make = &makeDefault, TestReset testReset = TestReset::drop)
        : make_(make), testReset_(testReset) {}
    constexpr explicit SharedInstance(TestReset testReset) : SharedInstance(&makeDefault, testReset) {}
    SharedInstance(const SharedInstance&) = delete;
    SharedInstance& operator=(const SharedInstance&) = delete;

    std::shared_ptr<T> get() {
        Slot& slot = this->slot();
        std::lock_guard lock(slot.mutex);
        if (!slot.instance && make_) slot.instance = make_();
        return slot.instance;
    }
    // The instance made or set so far, if any; makes none.
    std::shared_ptr<T> existing() {
        Slot& slot = this->slot();
        std::lock_guard lock(slot.mutex);
        return slot.instance;
    }
    // The instance replaced is released after unlocking, so that its destructor may use this one.
    void set(std::shared_ptr<T> instance) {
        Slot& slot = this->slot();
        {
            std::lock_guard lock(slot.mutex);
            slot.instance.swap(instance);
        }
    }
    void reset() { set(nullptr); }

  private:
    struct Slot {
        std::mutex mutex;
        std::shared_ptr<T> instance;
    };

    static std::shared_ptr<T> makeDefault() {
        if constexpr (std::is_default_constructible_v<T>)
            return std::make_shared<T>();
        else
            return std::shared_ptr<T>(new T());
    }

    Slot& slot() {
        // Nothing to run at exit: the slot, and with it the instance, is never freed.
        static_assert(std::is_trivially_destructible_v<SharedInstance>);
        Slot* slot = slot_.load(std::memory_order_acquire);
        if (slot) return *slot;
        auto made = std::make_unique<Slot>();
        if (slot_.compare_exchange_strong(slot, made.get(), std::memory_order_acq_rel,
                                          std::memory_order_acquire)) {
            slot = made.release();
            if (testReset_ == TestReset::drop) registerResetForTesting([this] { reset(); });
        }
        return *slot;
    }

    Factory make_;
    TestReset testReset_;
    std::atomic<Slot*> slot_{nullptr};
};
