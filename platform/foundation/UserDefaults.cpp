#include "platform/foundation/UserDefaults.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"

namespace fs = std::filesystem;

namespace {
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, std::shared_ptr<UserDefaults>>& registry() {
    static auto* suites = new std::map<std::string, std::shared_ptr<UserDefaults>>();
    return *suites;
}

fs::path suiteFile(const std::string& name) { return FileLocations::preferencesDirectory() / (name + ".plist"); }
}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name) {
    std::lock_guard lock(registryMutex());
    auto& slot = registry()[name];
    if (!slot) slot = std::make_shared<UserDefaults>(name);
    return slot;
}

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
    return suite(Bundle::mainBundle()->bundleIdentifier());
}

void UserDefaults::resetStandardUserDefaults() {
    std::lock_guard lock(registryMutex());
    registry().clear();
}

UserDefaults::UserDefaults(std::string name) : name_(std::move(name)) { load(); }

void UserDefaults::load() {
    fs::path file = suiteFile(name_);
    std::error_code ec;
    if (!fs::exists(file, ec)) return;
    auto bytes = FileLocations::readFile(file);
    std::optional<Value> root;
    if (bytes) root = plist::read(*bytes);
    if (root && root->isDictionary()) {
        values_ = *root->asDictionary();
        return;
    }
    // Keep the unreadable file for whoever wants to look at it; start empty.
    fs::path aside = file;
    aside += ".corrupt-" + std::to_string(Date::now().unixMillis());
    fs::rename(file, aside, ec);
    std::fprintf(stderr, "UserDefaults: %s could not be read; moved aside to %s\n", file.c_str(), aside.c_str());
}

void UserDefaults::persist() const {
    auto bytes = plist::write(values_);
    if (!bytes || !FileLocations::writeFileAtomically(suiteFile(name_), *bytes))
        std::fprintf(stderr, "UserDefaults: could not write %s\n", suiteFile(name_).c_str());
}

std::optional<Value> UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (const Value* v = values_.find(key)) return *v;
    return std::nullopt;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->asString()) return *v->asString();
    return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->asData()) return *v->asData();
    return std::nullopt;
}

std::optional<Value::Array> UserDefaults::arrayForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->asArray()) return *v->asArray();
    return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->asDictionary()) return *v->asDictionary();
    return std::nullopt;
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
    auto v = objectForKey(key);
    return v ? v->integerOr(0) : 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
    auto v = objectForKey(key);
    return v ? v->realOr(0) : 0;
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto v = objectForKey(key);
    return v ? v->boolOr(false) : false;
}

void UserDefaults::setObject(const Value& value, const std::string& key) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    std::lock_guard lock(mutex_);
    values_.set(key, value);
    persist();
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key)) persist();
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return values_;
}
