#pragma once
// A locale identifier taken apart: language, script and region, as the platform reads tags such
// as "zh-Hant-TW", "pt_PT" or "de_DE.UTF-8".
#include <optional>
#include <string>
#include <vector>

class Locale {
  public:
    explicit Locale(const std::string& identifier);
    // The process's locale from LC_ALL, LC_MESSAGES or LANG; "C" and "POSIX" have no language.
    static Locale current();
    // The user's languages, most preferred first (see Bundle::preferredLanguages).
    static std::vector<std::string> preferredLanguages();

    const std::optional<std::string>& languageCode() const { return language_; }  // lower case
    const std::optional<std::string>& scriptCode() const { return script_; }      // "Hant"
    const std::optional<std::string>& regionCode() const { return region_; }      // upper case or digits

  private:
    std::optional<std::string> language_, script_, region_;
};
