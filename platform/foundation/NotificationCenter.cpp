#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

#include "platform/foundation/SharedInstance.h"

namespace {
// Handed out by reference, and observed by objects that outlive a test's reset.
constinit SharedInstance<NotificationCenter> sharedCenter{TestReset::keep};
}  // namespace

NotificationCenter& NotificationCenter::defaultCenter() {
    return *sharedCenter.get();
}

NotificationCenter::NotificationCenter() : entries_(std::make_shared<Entries>()) {}

bool NotificationCenter::Entries::contains(Id id) const {
    return std::any_of(list.begin(), list.end(), [id](const Entry& e) { return e.id == id; });
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Observer block,
                                                          const void* object) {
    Id id;
    {
        std::lock_guard lock(entries_->mutex);
        id = entries_->next++;
        entries_->list.push_back({id, std::move(name), object, std::make_shared<Observer>(std::move(block))});
    }
    return Token([weak = std::weak_ptr<Entries>(entries_), id] {
        auto entries = weak.lock();
        if (!entries) return;
        // Released after unlocking: the block may hold the last reference to an object whose
        // destructor drops tokens of its own.
        std::shared_ptr<Observer> removed;
        std::lock_guard lock(entries->mutex);
        auto& list = entries->list;
        auto found = std::find_if(list.begin(), list.end(), [id](const Entry& e) { return e.id == id; });
        if (found == list.end()) return;
        removed = std::move(found->block);
        entries->list.erase(found);
    });
}

void NotificationCenter::removeObserver(Token& token) {
    token.cancel();
}

void NotificationCenter::post(std::string name, const void* object, Value userInfo) {
    Notification note{std::move(name), object, std::move(userInfo)};
    // Observers may add or remove observers while being called: deliver from a snapshot.
    std::vector<std::pair<Id, std::shared_ptr<Observer>>> targets;
    {
        std::lock_guard lock(entries_->mutex);
        for (const auto& e : entries_->list)
            if (e.name == note.name && (!e.object || e.object == object)) targets.emplace_back(e.id, e.block);
    }
    for (const auto& [id, block] : targets) {
        bool stillObserving;
        {
            std::lock_guard lock(entries_->mutex);
            stillObserving = entries_->contains(id);
        }
        if (stillObserving) (*block)(note);
    }
}
