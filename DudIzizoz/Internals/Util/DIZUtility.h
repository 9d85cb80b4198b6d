#pragma once
// Small stateless helpers shared by the reporting client and its services: the secret string,
// target tokens, SHA-256 and JSON text, property maps, the application's environment and state,
// dates, the client's data directory and its files, and keyed archives restricted to an
// allow-list of classes.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Value.h"

enum class DIZEnvironment : int { Other = 99 };
enum class DIZApplicationState : int { Active = 0, Background = 2, Unknown = 3 };

// Properties of logs: string keys to string values.
using DIZProperties = std::map<std::string, std::string>;

inline constexpr size_t kDIZMaxPropertiesPerLog = 20;
inline constexpr size_t kDIZMaxPropertyKeyLength = 125;
inline constexpr size_t kDIZMaxPropertyValueLength = 125;

class DIZUtility {
  public:
    // SDK identity, read from the version record that the binary carries in section "__dz_ios".
    static std::string sdkName();
    static std::string sdkVersion();

    // Secret string: ";"-separated parts "appsecret=...", "target=..." or "macos=...", or a bare secret.
    static std::optional<std::string> appSecretFrom(const std::string& secretString);
    static std::optional<std::string> transmissionTargetTokenFrom(const std::string& secretString);
    // The token's text before its first "-"; nullopt when that is empty.
    static std::optional<std::string> targetKeyFromTargetToken(const std::string& token);
    // "o:" and the target key.
    static std::optional<std::string> iKeyFromTargetToken(const std::string& token);
    // Lower-case hexadecimal SHA-256 of the string's bytes.
    static std::string sha256(const std::string& text);
    // JSON re-indented for reading; the bytes as UTF-8 text when they are no JSON.
    static std::optional<std::string> prettyPrintJson(const std::optional<Data>& data);
    // Every case-insensitive match of `pattern` replaced by `replacement` ("$1" names a group);
    // nullopt for no string or an invalid pattern. A regular expression recurses per character,
    // so this is for short text of our own; text from outside goes through the scans below.
    static std::optional<std::string> obfuscateString(const std::optional<std::string>& text,
                                                      const std::string& pattern,
                                                      const std::string& replacement);
    // Every "token" name (in any case), blanks, ":", blanks and a non-empty quoted value become
    // "token" : "***"; one pass over the text, whatever its length.
    static std::optional<std::string> obfuscateTokenValues(const std::optional<std::string>& text);
    // Everything from a ":" up to the next double quote (or the end) becomes ":***" when it is not
    // empty; one pass over the text.
    static std::string obfuscateAfterColons(const std::string& text);

    // At most 20 string entries, keys and values cut to 125 characters; the rest is skipped with a
    // warning naming the log (`type` '`logName`').
    static DIZProperties validateProperties(const Dictionary& properties, const std::string& logName,
                                            const std::string& type);

    static DIZEnvironment currentAppEnvironment() { return DIZEnvironment::Other; }
    static DIZApplicationState applicationState();

    static double nowInMilliseconds();
    // "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC.
    static std::string dateToISO8601(const Date& date);
    static std::optional<Date> dateFromISO8601(const std::string& text);

    // The data directory, Application Support/<bundle id>/<SDK identifier>, created when missing.
    // Path components below are relative to it; one that would lead out of it is refused.
    static std::filesystem::path dudIzizozDirectoryURL();
    static std::optional<std::filesystem::path> createFileAtPathComponent(const std::string& pathComponent,
                                                                          const std::optional<Data>& data,
                                                                          bool atomically,
                                                                          bool forceOverwrite);
    static bool deleteItemForPathComponent(const std::string& pathComponent);
    static bool deleteFileAtURL(const std::filesystem::path& url);
    static std::optional<std::filesystem::path> createDirectoryForPathComponent(
        const std::string& pathComponent);
    static std::optional<Data> loadDataForPathComponent(const std::string& pathComponent);
    static std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(
        const std::string& pathComponent);
    // Replaces an existing file.
    static bool createFileAtPath(const std::filesystem::path& path, const Data& contents);
    static bool fileExistsForPathComponent(const std::string& pathComponent);
    static std::optional<std::filesystem::path> fullURLForPathComponent(const std::string& pathComponent);
    static bool createDirectoryAtURL(const std::filesystem::path& url);

    // The object under the root key of a keyed archive that requires secure coding.
    static std::optional<Data> archiveKeyedData(const Archived& object);
    // Only the allowed classes are made; archives naming an old class name read as its new class.
    static std::optional<Archived> unarchiveKeyedData(const std::optional<Data>& data);
    static void addAllowedClasses(const ArchiveClassList& classes);
    // Old archived class name -> the name of the class that reads it now.
    static void addMigrationClasses(const std::map<std::string, std::string>& classes);
};
