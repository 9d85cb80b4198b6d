#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

NotificationCenter& NotificationCenter::defaultCenter() {
    static auto* center = new NotificationCenter();
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer block, const void* object) {
    std::lock_guard lock(mutex_);
    Token token = next_++;
    entries_.push_back({token, std::move(name), object, std::make_shared<Observer>(std::move(block))});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(std::string name, const void* object, Value userInfo) {
    Notification note{std::move(name), object, std::move(userInfo)};
    // Observers may add or remove observers while being called: deliver from a snapshot.
    std::vector<std::pair<Token, std::shared_ptr<Observer>>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e.name == note.name && (!e.object || e.object == object)) targets.emplace_back(e.token, e.block);
    }
    for (const auto& [token, block] : targets) {
        bool stillObserving;
        {
            std::lock_guard lock(mutex_);
            stillObserving = std::any_of(entries_.begin(), entries_.end(), [t = token](const Entry& e) { return e.token == t; });
        }
        if (stillObserving) (*block)(note);
    }
}
