#include "platform/zudedaro/ZUDComponentContainer.h"

ZUDComponentContainer::ZUDComponentContainer(const std::vector<std::shared_ptr<ZUDComponent>>& components) {
    for (const auto& component : components)
        if (component && component->creationBlock()) components_[component->protocol()] = component;
}

std::shared_ptr<Object> ZUDComponentContainer::instanceForProtocol(const std::string& protocol) {
    auto component = components_.find(protocol);
    if (component == components_.end()) return nullptr;
    {
        std::lock_guard lock(mutex_);
        if (auto kept = instances_.find(protocol); kept != instances_.end()) return kept->second;
    }
    bool isCacheable = true;
    auto instance = component->second->creationBlock()(*this, &isCacheable);
    if (!instance || !isCacheable) return instance;
    std::lock_guard lock(mutex_);
    // Two first requests may race: the first instance kept is the one everybody gets.
    return instances_.try_emplace(protocol, std::move(instance)).first->second;
}
