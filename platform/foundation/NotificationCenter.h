#pragma once
// Named notifications delivered synchronously on the posting thread, to observers in the order
// they registered. An observation lasts as long as the token it returns.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Observation.h"
#include "platform/foundation/Value.h"

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, compared by identity
    Value userInfo;
};

class NotificationCenter {
  public:
    using Observer = std::function<void(const Notification&)>;
    // Removes the observer when dropped or cancelled; it may outlive the center.
    using Token = Cancellable;

    static NotificationCenter& defaultCenter();

    NotificationCenter();

    // `object` non-null: only notifications from that sender are delivered. An observer removed
    // while a notification is being delivered is not called for it any more.
    [[nodiscard]] Token addObserver(std::string name, Observer block, const void* object = nullptr);
    // The same as dropping the token.
    void removeObserver(Token& token);
    void post(std::string name, const void* object = nullptr, Value userInfo = {});

  private:
    using Id = uint64_t;
    struct Entry {
        Id id;
        std::string name;
        const void* object;
        std::shared_ptr<Observer> block;
    };
    // Shared with the tokens, so that a token that outlives the center has nothing to remove.
    struct Entries {
        std::mutex mutex;
        std::vector<Entry> list;
        Id next = 1;
        bool contains(Id id) const;
    };
    std::shared_ptr<Entries> entries_;
};
