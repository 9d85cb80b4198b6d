// The keychain as one binary property list: an array of item dictionaries, each with the keys of
// the attributes it was added with.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"
#include "platform/security/SecItem.h"

namespace fs = std::filesystem;

namespace {
std::mutex& storeMutex() {
    static std::mutex m;
    return m;
}

fs::path storeFile() {
    return FileLocations::applicationSupportDirectory() / "Keychains" / "keychain.plist";
}

// Every call reads the whole store and may write it back whole, so two processes (two instances
// of the agent) would each write back what they read and drop the other's new item. Held from the
// read to the write, an advisory lock on a file beside the store orders them; the per-process
// mutex orders this process's threads before they open the lock file. Only a call that may add
// creates the store's directory; for the others, no directory means no store.
class StoreLock {
  public:
    explicit StoreLock(bool mayCreateStore) : guard_(storeMutex()) {
        const fs::path directory = storeFile().parent_path();
        std::error_code ec;
        if (!mayCreateStore && !fs::is_directory(directory, ec)) {
            storeAbsent_ = true;
            return;
        }
        if (!FileLocations::ensureDirectory(directory)) return;
        ::chmod(directory.c_str(), 0700);
        fd_ = ::open((directory / "keychain.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool held() const { return fd_ >= 0; }
    bool storeAbsent() const { return storeAbsent_; }

  private:
    std::lock_guard<std::mutex> guard_;
    int fd_ = -1;
    bool storeAbsent_ = false;
};

// The bytes of an existing store; nullopt when it cannot be read. Written for both forms of
// FileLocations::readFile, the one that reports by its result and the older one that throws.
std::optional<Data> readStore(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    try {
        return FileLocations::readFile(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// nullopt when the store exists and cannot be read (it is left as it is); a file that reads but
// does not decode is moved aside and the keychain starts empty.
std::optional<Value::Array> loadItems() {
    const fs::path file = storeFile();
    std::error_code ec;
    const bool exists = fs::exists(file, ec);
    // A store that cannot even be looked at is not an empty one: a write would replace it.
    if (ec) return std::nullopt;
    if (!exists) return Value::Array{};
    auto bytes = readStore(file);
    if (!bytes) {
        std::fprintf(stderr, "Keychain: %s could not be read\n", file.c_str());
        return std::nullopt;
    }
    auto value = plist::read(*bytes);
    if (value && value->isArray()) return *value->asArray();
    fs::path aside = file;
    aside += ".corrupt-" + std::to_string(Date::now().unixMillis());
    fs::rename(file, aside, ec);
    std::fprintf(stderr, "Keychain: %s could not be read; moved aside to %s\n", file.c_str(), aside.c_str());
    return Value::Array{};
}

bool storeItems(const Value::Array& items) {
    const fs::path file = storeFile();
    if (!FileLocations::ensureDirectory(file.parent_path())) return false;
    ::chmod(file.parent_path().c_str(), 0700);
    auto bytes = plist::write(Value(items));
    // The file is written through mkstemp, which creates it with mode 0600.
    return bytes && FileLocations::writeFileAtomically(file, *bytes);
}

const std::string* stringAttribute(const Dictionary& attributes, const char* key) {
    const Value* value = attributes.find(key);
    return value ? value->asString() : nullptr;
}

// The generic attribute is bytes to the keychain, whichever form the caller handed it in.
std::optional<Data> attributeBytes(const Value& value) {
    if (const std::string* text = value.asString()) return Data(text->begin(), text->end());
    if (const Data* data = value.asData()) return *data;
    return std::nullopt;
}

// An item matches when every identifying attribute the query names is equal.
bool matches(const Value& item, const Dictionary& query) {
    for (const char* key : {kSecClass, kSecAttrService, kSecAttrAccount}) {
        const Value* wanted = query.find(key);
        if (wanted && item[key] != *wanted) return false;
    }
    const Value* generic = query.find(kSecAttrGeneric);
    return !generic || attributeBytes(item[kSecAttrGeneric]) == attributeBytes(*generic);
}

constexpr const char* kUpdatableAttributes[] = {kSecValueData, kSecAttrGeneric, kSecAttrAccessible};

bool validAttributes(const Dictionary& attributes) {
    const Value* data = attributes.find(kSecValueData);
    const Value* generic = attributes.find(kSecAttrGeneric);
    return (!data || data->isData()) && (!generic || attributeBytes(*generic));
}

Value attributesOf(const Value& item, bool withData) {
    Dictionary attributes;
    for (const char* key :
         {kSecClass, kSecAttrService, kSecAttrAccount, kSecAttrGeneric, kSecAttrAccessible}) {
        if (!item[key].isNull()) attributes.set(key, item[key]);
    }
    if (withData) attributes.set(kSecValueData, item[kSecValueData]);
    return Value(std::move(attributes));
}

bool validQuery(const Dictionary& query) {
    const std::string* itemClass = stringAttribute(query, kSecClass);
    return itemClass && *itemClass == kSecClassGenericPassword;
}
}  // namespace

OSStatus SecItemAdd(const Dictionary& attributes) {
    const Value* data = attributes.find(kSecValueData);
    if (!validQuery(attributes) || !stringAttribute(attributes, kSecAttrService) ||
        !stringAttribute(attributes, kSecAttrAccount) || !data || !validAttributes(attributes))
        return errSecParam;
    StoreLock lock(true);
    if (!lock.held()) return errSecIO;
    auto items = loadItems();
    if (!items) return errSecIO;
    for (const Value& item : *items) {
        if (matches(item, attributes)) return errSecDuplicateItem;
    }
    Dictionary item;
    for (const char* key :
         {kSecClass, kSecAttrService, kSecAttrAccount, kSecAttrGeneric, kSecAttrAccessible, kSecValueData}) {
        if (const Value* value = attributes.find(key)) item.set(key, *value);
    }
    items->push_back(Value(std::move(item)));
    return storeItems(*items) ? errSecSuccess : errSecIO;
}

OSStatus SecItemCopyMatching(const Dictionary& query, Value* result) {
    if (!validQuery(query)) return errSecParam;
    StoreLock lock(false);
    if (lock.storeAbsent()) return errSecItemNotFound;
    if (!lock.held()) return errSecIO;
    auto items = loadItems();
    if (!items) return errSecIO;
    for (const Value& item : *items) {
        if (!matches(item, query)) continue;
        const Value* returnData = query.find(kSecReturnData);
        const Value* returnAttributes = query.find(kSecReturnAttributes);
        const bool wantsData = returnData && returnData->boolOr(false);
        if (result && returnAttributes && returnAttributes->boolOr(false)) {
            *result = attributesOf(item, wantsData);
        } else if (result && wantsData) {
            *result = item[kSecValueData];
        }
        return errSecSuccess;
    }
    return errSecItemNotFound;
}

OSStatus SecItemDelete(const Dictionary& query) {
    if (!validQuery(query)) return errSecParam;
    StoreLock lock(false);
    if (lock.storeAbsent()) return errSecItemNotFound;
    if (!lock.held()) return errSecIO;
    auto items = loadItems();
    if (!items) return errSecIO;
    const size_t before = items->size();
    std::erase_if(*items, [&](const Value& item) { return matches(item, query); });
    if (items->size() == before) return errSecItemNotFound;
    return storeItems(*items) ? errSecSuccess : errSecIO;
}

OSStatus SecItemUpdate(const Dictionary& query, const Dictionary& attributesToUpdate) {
    if (!validQuery(query) || !validAttributes(attributesToUpdate)) return errSecParam;
    StoreLock lock(false);
    if (lock.storeAbsent()) return errSecItemNotFound;
    if (!lock.held()) return errSecIO;
    auto items = loadItems();
    if (!items) return errSecIO;
    bool found = false;
    for (Value& item : *items) {
        if (!matches(item, query)) continue;
        found = true;
        Dictionary updated = *item.asDictionary();
        for (const char* key : kUpdatableAttributes) {
            if (const Value* value = attributesToUpdate.find(key)) updated.set(key, *value);
        }
        item = Value(std::move(updated));
    }
    if (!found) return errSecItemNotFound;
    return storeItems(*items) ? errSecSuccess : errSecIO;
}
