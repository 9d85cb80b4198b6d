#pragma once
// Named notifications delivered synchronously on the posting thread, to observers in the order
// they registered.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, compared by identity
    Value userInfo;
};

class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    // `object` non-null: only notifications from that sender are delivered.
    Token addObserver(std::string name, Observer block, const void* object = nullptr);
    void removeObserver(Token token);
    void post(std::string name, const void* object = nullptr, Value userInfo = {});

private:
    struct Entry {
        Token token;
        std::string name;
        const void* object;
        std::shared_ptr<Observer> block;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token next_ = 1;
};
