#pragma once
// The keychain's item calls for generic passwords. Items are matched by class, service and
// account; the store is one file of mode 0600 below the application-support directory, read
// afresh by every call under an advisory lock that the calls of every process take, so other
// processes' changes are seen and never overwritten. A store that cannot be read fails the call
// with errSecIO and is left alone; one that cannot be decoded is kept beside itself with a
// ".corrupt-<time>" suffix and the keychain starts empty.
#include <cstdint>

#include "platform/foundation/Value.h"

using OSStatus = int32_t;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;

// Query and attribute keys, and their values. The generic attribute is matched by its bytes, so a
// query naming it as a string finds an item that holds it as data.
inline constexpr const char* kSecClass = "class";
inline constexpr const char* kSecClassGenericPassword = "genp";
inline constexpr const char* kSecAttrService = "svce";
inline constexpr const char* kSecAttrAccount = "acct";
inline constexpr const char* kSecAttrAccessible = "pdmn";
inline constexpr const char* kSecAttrGeneric = "gena";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "cku";
inline constexpr const char* kSecAttrAccessibleAlwaysThisDeviceOnly = "dku";
inline constexpr const char* kSecValueData = "v_Data";
inline constexpr const char* kSecReturnData = "r_Data";
inline constexpr const char* kSecReturnAttributes = "r_Attributes";
inline constexpr const char* kSecMatchLimit = "m_Limit";
inline constexpr const char* kSecMatchLimitOne = "m_LimitOne";

// Adds one item: kSecClass, kSecAttrService, kSecAttrAccount (strings), kSecValueData (data) and
// optionally kSecAttrGeneric (string or data) and kSecAttrAccessible. errSecDuplicateItem when the
// class, service and account exist.
OSStatus SecItemAdd(const Dictionary& attributes);
// Finds the first item matching the query's class, service, account and generic attribute (those
// given). With kSecReturnData true, `result` receives its data; with kSecReturnAttributes true, a
// dictionary of its attributes instead (holding the data too when both are asked for);
// errSecItemNotFound when nothing matches.
OSStatus SecItemCopyMatching(const Dictionary& query, Value* result);
// Sets the attributes given (kSecValueData, kSecAttrGeneric, kSecAttrAccessible) on every item
// matching the query; errSecItemNotFound when nothing matches.
OSStatus SecItemUpdate(const Dictionary& query, const Dictionary& attributesToUpdate);
// Deletes every item matching the query; errSecItemNotFound when nothing matches.
OSStatus SecItemDelete(const Dictionary& query);
