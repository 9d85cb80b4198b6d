#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SharedInstance.h"

namespace fs = std::filesystem;

namespace {
// The suites in use, each read from its file when first used.
struct Suites {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<UserDefaults>> byName;
};
constinit SharedInstance<Suites> sharedSuites;

fs::path suiteFile(const std::string& name) {
    return FileLocations::preferencesDirectory() / (name + ".plist");
}

// A container may hold only property-list values, all the way down; the platform raises otherwise
// rather than keep a value it could never write.
bool holdsOnlyPropertyListValues(const Value& value) {
    if (const auto* array = value.asArray()) {
        for (const auto& item : *array)
            if (item.isNull() || item.isObject() || !holdsOnlyPropertyListValues(item)) return false;
    } else if (const auto* dictionary = value.asDictionary()) {
        for (const auto& [key, item] : *dictionary)
            if (item.isNull() || item.isObject() || !holdsOnlyPropertyListValues(item)) return false;
    }
    return true;
}

// Enough for any number of damaged files a person would keep, few enough to give up quickly.
constexpr int kMaxAsideAttempts = 1000;

// 0 on success, else the errno; EEXIST when `to` is taken.
int renameWithoutReplacing(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return errno;
    // A file system without the flag: check first, accepting the small race.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}
}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name) {
    auto suites = sharedSuites.get();
    std::lock_guard lock(suites->mutex);
    auto& slot = suites->byName[name];
    if (!slot) slot = std::make_shared<UserDefaults>(name);
    return slot;
}

std::shared_ptr<UserDefaults> UserDefaults::standardUserDefaults() {
    return suite(Bundle::mainBundle()->bundleIdentifier());
}

void UserDefaults::resetStandardUserDefaults() {
    sharedSuites.reset();
}

UserDefaults::UserDefaults(std::string name) : name_(std::move(name)) {
    load();
}

void UserDefaults::load() {
    fs::path file = suiteFile(name_);
    std::error_code ec;
    if (!fs::exists(file, ec)) return;
    Error error;
    std::optional<Value> root;
    if (auto bytes = FileLocations::readFile(file, &error)) root = plist::read(*bytes, &error);
    if (root && root->isDictionary()) {
        values_ = *root->asDictionary();
        return;
    }
    if (root) error.description = "The property list is not a dictionary.";
    // Keep the unreadable file for whoever wants to look at it; start empty.
    std::fprintf(stderr, "UserDefaults: %s could not be read: %s\n", file.c_str(), error.description.c_str());
    damagedFileInPlace_ = true;
    moveDamagedFileAside();
}

bool UserDefaults::moveDamagedFileAside() const {
    const fs::path file = suiteFile(name_);
    const std::string stem = file.string() + ".corrupt-" + std::to_string(Date::now().unixMillis());
    int failure = 0;
    // The clock may stand still or go back, so the first free name wins; nothing is ever replaced.
    for (int attempt = 0; attempt < kMaxAsideAttempts; ++attempt) {
        const std::string aside = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        failure = renameWithoutReplacing(file, aside);
        if (failure == 0) std::fprintf(stderr, "UserDefaults: moved aside to %s\n", aside.c_str());
        // Gone by itself: there is nothing left to write over.
        if (failure == 0 || failure == ENOENT) {
            damagedFileInPlace_ = false;
            return true;
        }
        if (failure != EEXIST) break;
    }
    std::fprintf(stderr,
                 "UserDefaults: %s could not be kept aside (%s); it stays in place and this suite's "
                 "changes are not saved\n",
                 file.c_str(), std::generic_category().message(failure).c_str());
    return false;
}

void UserDefaults::persist() const {
    unsaved_ = true;
    if (damagedFileInPlace_ && !moveDamagedFileAside()) return;
    auto bytes = plist::write(values_);
    if (!bytes || !FileLocations::writeFileAtomically(suiteFile(name_), *bytes)) {
        std::fprintf(stderr, "UserDefaults: could not write %s\n", suiteFile(name_).c_str());
        return;
    }
    unsaved_ = false;
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (unsaved_) persist();
    return !unsaved_;
}

void UserDefaults::removePersistentDomainForName(const std::string& name) {
    suite(name)->removeAll();
}

void UserDefaults::removeAll() {
    std::lock_guard lock(mutex_);
    values_ = Dictionary();
    // A damaged file in place is kept for whoever wants to look at it.
    if (damagedFileInPlace_) return;
    std::error_code ec;
    fs::remove(suiteFile(name_), ec);
    unsaved_ = static_cast<bool>(ec);
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
    if (!holdsOnlyPropertyListValues(value))
        throw Exception(NSInvalidArgumentException,
                        "Attempt to insert non-property list object for key " + key);
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
