// The keychain as one binary property list: an array of item dictionaries, each with the keys of
// the attributes it was added with.
#include <sys/stat.h>

#include <cstdio>
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

// nullopt only when the file exists and cannot be read at all; a file that reads but does not
// decode is moved aside and the keychain starts empty.
std::optional<Value::Array> loadItems() {
    const fs::path file = storeFile();
    std::error_code ec;
    if (!fs::exists(file, ec)) return Value::Array{};
    auto bytes = FileLocations::readFile(file);
    if (!bytes) return std::nullopt;
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

// An item matches when every identifying attribute the query names is equal.
bool matches(const Value& item, const Dictionary& query) {
    for (const char* key : {kSecClass, kSecAttrService, kSecAttrAccount}) {
        const Value* wanted = query.find(key);
        if (wanted && item[key] != *wanted) return false;
    }
    return true;
}

bool validQuery(const Dictionary& query) {
    const std::string* itemClass = stringAttribute(query, kSecClass);
    return itemClass && *itemClass == kSecClassGenericPassword;
}
}  // namespace

OSStatus SecItemAdd(const Dictionary& attributes) {
    const Value* data = attributes.find(kSecValueData);
    if (!validQuery(attributes) || !stringAttribute(attributes, kSecAttrService) ||
        !stringAttribute(attributes, kSecAttrAccount) || !data || !data->isData())
        return errSecParam;
    std::lock_guard lock(storeMutex());
    auto items = loadItems();
    if (!items) return errSecIO;
    for (const Value& item : *items) {
        if (matches(item, attributes)) return errSecDuplicateItem;
    }
    Dictionary item;
    for (const char* key : {kSecClass, kSecAttrService, kSecAttrAccount, kSecAttrAccessible, kSecValueData}) {
        if (const Value* value = attributes.find(key)) item.set(key, *value);
    }
    items->push_back(Value(std::move(item)));
    return storeItems(*items) ? errSecSuccess : errSecIO;
}

OSStatus SecItemCopyMatching(const Dictionary& query, Value* result) {
    if (!validQuery(query)) return errSecParam;
    std::lock_guard lock(storeMutex());
    auto items = loadItems();
    if (!items) return errSecIO;
    for (const Value& item : *items) {
        if (!matches(item, query)) continue;
        const Value* returnData = query.find(kSecReturnData);
        if (result && returnData && returnData->boolOr(false)) *result = item[kSecValueData];
        return errSecSuccess;
    }
    return errSecItemNotFound;
}

OSStatus SecItemDelete(const Dictionary& query) {
    if (!validQuery(query)) return errSecParam;
    std::lock_guard lock(storeMutex());
    auto items = loadItems();
    if (!items) return errSecIO;
    const size_t before = items->size();
    std::erase_if(*items, [&](const Value& item) { return matches(item, query); });
    if (items->size() == before) return errSecItemNotFound;
    return storeItems(*items) ? errSecSuccess : errSecIO;
}
