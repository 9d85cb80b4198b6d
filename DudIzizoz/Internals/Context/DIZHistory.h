#pragma once
// The persisted histories of the contexts: an array of history entries kept as one keyed archive
// under a key of the client's user defaults, oldest entry first.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Util/DIZDudIzizozUserDefaults.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"

// The stored history, or an empty one when there is none or it cannot be read.
template <class Info>
std::vector<std::shared_ptr<Info>> DIZLoadHistory(const std::string& key) {
    auto stored = DIZDudIzizozUserDefaults::shared()->objectForKey(key);
    const Data* data = stored ? stored->asData() : nullptr;
    if (!data) return {};
    auto archived = DIZUtility::unarchiveKeyedData(*data);
    auto entries = archived ? archived->template arrayOf<Info>() : std::nullopt;
    return entries ? std::move(*entries) : std::vector<std::shared_ptr<Info>>{};
}

template <class Info>
void DIZSaveHistory(const std::vector<std::shared_ptr<Info>>& history, const std::string& key) {
    if (auto data = DIZUtility::archiveKeyedData(Archived(history)))
        DIZDudIzizozUserDefaults::shared()->setObject(Value(std::move(*data)), key);
}

// The newest entry whose timestamp is strictly earlier than `date`, or null; `leftOut` is never
// answered.
template <class Info>
std::shared_ptr<Info> DIZEntryBefore(const std::vector<std::shared_ptr<Info>>& history, const Date& date,
                                     const std::shared_ptr<Info>& leftOut = nullptr) {
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        if (*it != leftOut && (*it)->timestamp() && *(*it)->timestamp() < date) return *it;
    }
    return nullptr;
}
