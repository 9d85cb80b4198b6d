#pragma once
// Generic-password keychain items of the measurement library: one per (identifier, app ID), the
// app ID as service and the identifier as both account and generic attribute, holding UTF-8 text.
// Failures answer false or nullopt; nothing is logged. Any thread may call.
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Value.h"

class ZDMKeychainWrapper {
  public:
    // False for an empty value or empty names; replaces the text of an item that holds one.
    static bool upsertKeychainValue(const std::string& value, const std::string& identifier,
                                    const std::string& appID);
    // The stored text; nullopt when there is none or it is empty.
    static std::optional<std::string> keychainValueWithIdentifier(const std::string& identifier,
                                                                  const std::string& appID);
    static std::optional<Data> keychainDataWithIdentifier(const std::string& identifier,
                                                          const std::string& appID);
    static void deleteKeychainValueWithIdentifier(const std::string& identifier, const std::string& appID);
    // The item's identifying attributes; nullopt when either name is empty.
    static std::optional<Dictionary> searchDirectoryForIdentifier(const std::string& identifier,
                                                                  const std::string& appID);
    // True for a stored item whose account or generic attribute is not held as text.
    static bool isMigrationNeededForIdentifier(const std::string& identifier, const std::string& appID);
    // Items need no conversion on this platform; kept as the step the first read runs once.
    static void migrateKeychainDataToStringWithIdentifier(const std::string& identifier,
                                                          const std::string& appID);
};
