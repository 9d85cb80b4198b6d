#include "platform/foundation/Value.h"

#include <cmath>
#include <utility>

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    for (const auto& [key, value] : entries) set(key, value);
}

const Dictionary::Entry* Dictionary::entry(std::string_view key) const {
    if (!index_.empty()) {
        auto found = index_.find(key);
        return found == index_.end() ? nullptr : &entries_[found->second];
    }
    for (const auto& candidate : entries_)
        if (candidate.first == key) return &candidate;
    return nullptr;
}

const Value* Dictionary::find(std::string_view key) const {
    const Entry* found = entry(key);
    return found ? &found->second : nullptr;
}

Value* Dictionary::find(std::string_view key) {
    return const_cast<Value*>(std::as_const(*this).find(key));
}

Value& Dictionary::append(std::string key, Value value) {
    entries_.emplace_back(std::move(key), std::move(value));
    if (!index_.empty()) {
        index_.emplace(entries_.back().first, entries_.size() - 1);
    } else if (entries_.size() >= kIndexedFrom) {
        index_.reserve(entries_.size());
        for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].first, i);
    }
    return entries_.back().second;
}

void Dictionary::set(std::string key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return;
    }
    append(std::move(key), std::move(value));
}

Value& Dictionary::operator[](std::string_view key) {
    if (Value* existing = find(key)) return *existing;
    return append(std::string(key), Value());
}

const Value& Dictionary::operator[](std::string_view key) const {
    static const Value null;
    const Value* found = find(key);
    return found ? *found : null;
}

bool Dictionary::erase(std::string_view key) {
    const Entry* found = entry(key);
    if (!found) return false;
    const size_t position = static_cast<size_t>(found - entries_.data());
    // Before the entry goes: `key` may be a view of its own text.
    if (!index_.empty()) index_.erase(index_.find(key));
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    if (!index_.empty()) {
        for (size_t i = position; i < entries_.size(); ++i) index_.find(entries_[i].first)->second = i;
    }
    return true;
}

std::vector<std::string> Dictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& entry : entries_) out.push_back(entry.first);
    return out;
}

// Equal as the platform's dictionaries are: the same keys with equal values, in any order.
bool Dictionary::operator==(const Dictionary& other) const {
    if (entries_.size() != other.entries_.size()) return false;
    for (const auto& [key, value] : entries_) {
        const Value* theirs = other.find(key);
        if (!theirs || !(*theirs == value)) return false;
    }
    return true;
}

std::optional<bool> Value::asBool() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(v_);
        case Type::Integer:
            return std::get<int64_t>(v_) != 0;
        case Type::Real:
            return std::get<double>(v_) != 0.0;
        default:
            return std::nullopt;
    }
}

std::optional<int64_t> Value::asInteger() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(v_) ? 1 : 0;
        case Type::Integer:
            return std::get<int64_t>(v_);
        case Type::Real: {
            double d = std::get<double>(v_);
            if (std::isnan(d)) return 0;
            // Saturate rather than overflow: converting an out-of-range double is undefined.
            if (d >= 9223372036854775807.0) return INT64_MAX;
            if (d <= -9223372036854775808.0) return INT64_MIN;
            return static_cast<int64_t>(d);
        }
        default:
            return std::nullopt;
    }
}

std::optional<double> Value::asReal() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(v_) ? 1.0 : 0.0;
        case Type::Integer:
            return static_cast<double>(std::get<int64_t>(v_));
        case Type::Real:
            return std::get<double>(v_);
        default:
            return std::nullopt;
    }
}

std::optional<::Date> Value::asDate() const {
    if (auto d = std::get_if<::Date>(&v_)) return *d;
    return std::nullopt;
}

const Value& Value::operator[](std::string_view key) const {
    static const Value null;
    auto dict = asDictionary();
    return dict ? (*dict)[key] : null;
}

std::shared_ptr<const ::Object> Value::asObject() const {
    auto o = std::get_if<std::shared_ptr<const ::Object>>(&v_);
    return o ? *o : nullptr;
}

// Numbers compare by value across bool/integer/real, as the platform's numbers do; objects by
// their own equality.
bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        if (isReal() || other.isReal()) return *asReal() == *other.asReal();
        return *asInteger() == *other.asInteger();
    }
    if (isObject() && other.isObject()) {
        auto mine = asObject(), theirs = other.asObject();
        return mine == theirs || (mine && theirs && mine->isEqual(*theirs));
    }
    return v_ == other.v_;
}
