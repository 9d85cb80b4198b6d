#pragma once
// The preferences domains through the platform's C-style calls: one domain per application ID,
// the same store as the UserDefaults suite of that name (so both see each other's changes).
// Domains of the current user on any host are the only ones kept; others hold nothing.
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

// The application's own domain: the suite named after the main bundle's identifier.
inline constexpr const char* kCFPreferencesCurrentApplication = "kCFPreferencesCurrentApplication";
inline constexpr const char* kCFPreferencesCurrentUser = "kCFPreferencesCurrentUser";
inline constexpr const char* kCFPreferencesAnyHost = "kCFPreferencesAnyHost";

std::optional<Value> CFPreferencesCopyAppValue(const std::string& key, const std::string& applicationID);
// A null value removes the key.
void CFPreferencesSetAppValue(const std::string& key, const Value& value, const std::string& applicationID);
// The domain's keys; nullopt when it has none.
std::optional<std::vector<std::string>> CFPreferencesCopyKeyList(const std::string& applicationID,
                                                                 const std::string& user,
                                                                 const std::string& host);
void CFPreferencesSetMultiple(const Dictionary& keysToSet, const std::vector<std::string>& keysToRemove,
                              const std::string& applicationID, const std::string& user,
                              const std::string& host);
// True when the domain's file holds every change.
bool CFPreferencesAppSynchronize(const std::string& applicationID);
