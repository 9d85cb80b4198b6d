#include "measurement/foundation/ZDMPersistentDictionary.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMFileMoves.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/PropertyList.h"

namespace fs = std::filesystem;

namespace {
constexpr double kPersistDelaySeconds = 1.0;

// Not one of the library's numbered messages: the store's own notice that it kept a damaged file.
constexpr int64_t kCorruptFileKeptCode = 43005;

}  // namespace

std::shared_ptr<ZDMPersistentDictionary> ZDMPersistentDictionary::make(const std::string& fileName) {
    if (fileName.empty()) return nullptr;
    const std::string path = ZDMMeasurementSupportPlistPath(fileName);
    if (path.empty()) return nullptr;
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec) {
        logError(43004, "Cannot create subdirectories for config plist files.");
        return nullptr;
    }
    Dictionary content;
    if (auto stored = ZDMReadPlistDictionary(path)) {
        content = std::move(*stored);
    } else if (fs::exists(fs::symlink_status(path, ec))) {
        const std::string aside = path + ".corrupt";
        fs::rename(path, aside, ec);
        logWarning(kCorruptFileKeptCode, ec ? "Cannot read config plist file " + path +
                                                  " and cannot move it aside: " + ec.message()
                                            : "Cannot read config plist file, kept it as " + aside);
    }
    return std::make_shared<ZDMPersistentDictionary>(path, std::move(content));
}

ZDMPersistentDictionary::ZDMPersistentDictionary(std::string filePath, Dictionary content)
    : filePath_(std::move(filePath)),
      content_(std::move(content)),
      serialQueue_(DispatchQueue::serial("ZDMPersistentDictionary")) {}

ZDMPersistentDictionary::~ZDMPersistentDictionary() {
    std::lock_guard lock(lock_);
    if (hasPendingPersistence_ && !writeFile(filePath_, content_))
        logError(43000, "Cannot persist configs to disk");
}

std::optional<Value> ZDMPersistentDictionary::objectForKey(const std::string& key) {
    if (key.empty()) {
        logWarning(43001, "Cannot get object for invalid config key.");
        return std::nullopt;
    }
    std::lock_guard lock(lock_);
    if (const Value* value = content_.find(key)) return *value;
    return std::nullopt;
}

void ZDMPersistentDictionary::setObject(const Value& value, const std::string& key) {
    if (key.empty()) {
        logWarning(43002, "Cannot set object for invalid config key.");
        return;
    }
    if (value.isNull()) {
        std::lock_guard lock(lock_);
        if (content_.erase(key)) schedulePersistToDisk();
        return;
    }
    // Checked all the way down: a nested value the file cannot hold would make every later write
    // of the store fail.
    if (!isPropertyListValue(value)) {
        logWarning(43003,
                   "Cannot set invalid object to config. Must be a string, number, array, dictionary, date, "
                   "or data. Value " +
                       ZDMDescription(value));
        return;
    }
    std::lock_guard lock(lock_);
    if (const Value* stored = content_.find(key); stored && *stored == value) return;
    content_.set(key, value);
    schedulePersistToDisk();
}

void ZDMPersistentDictionary::removeObjectForKey(const std::string& key) {
    setObject(Value(), key);
}

void ZDMPersistentDictionary::clearAllData() {
    std::lock_guard lock(lock_);
    if (content_.empty()) return;
    content_ = Dictionary();
    schedulePersistToDisk();
}

void ZDMPersistentDictionary::schedulePersistToDisk() {
    std::lock_guard lock(lock_);
    if (hasPendingPersistence_) return;
    hasPendingPersistence_ = true;
    std::weak_ptr<ZDMPersistentDictionary> weak = weak_from_this();
    serialQueue_->after(kPersistDelaySeconds, [weak] {
        if (auto self = weak.lock()) self->persistToDisk();
    });
}

void ZDMPersistentDictionary::persistToDisk() {
    Dictionary snapshot;
    {
        std::lock_guard lock(lock_);
        snapshot = content_;
        hasPendingPersistence_ = false;
    }
    if (!writeFile(filePath_, snapshot)) logError(43000, "Cannot persist configs to disk");
}

// A reader never sees half a file: the bytes go to a temporary file that then replaces the old one.
bool ZDMPersistentDictionary::writeFile(const std::string& path, const Dictionary& content) {
    auto bytes = plist::write(Value(content));
    if (!bytes) return false;
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes->data(), 1, bytes->size(), file) == bytes->size();
    const bool closed = std::fclose(file) == 0;
    std::error_code ec;
    if (written && closed) fs::rename(temporary, path, ec);
    if (!written || !closed || ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}
