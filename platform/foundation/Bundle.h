#pragma once
// The application's bundle: its Info.plist values and the user's languages. The program registers
// its own bundle at start-up (setMainBundle); until then the info dictionary is empty, as that of an
// executable without an Info.plist is.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

class Bundle {
  public:
    static std::shared_ptr<Bundle> mainBundle();
    // Registers the program's bundle; tests also use it to try other Info.plist values.
    static void setMainBundle(std::shared_ptr<Bundle> bundle);
    static void resetMainBundle();

    explicit Bundle(Dictionary infoDictionary);

    const Dictionary& infoDictionary() const { return info_; }
    std::optional<Value> objectForInfoDictionaryKey(const std::string& key) const;
    std::string bundleIdentifier() const;  // "CFBundleIdentifier"
    std::string shortVersion() const;      // "CFBundleShortVersionString"
    std::string buildVersion() const;      // "CFBundleVersion"
    std::string name() const;              // "CFBundleName"
    std::string displayName() const;       // "CFBundleDisplayName", else the name
    std::string executableName() const;    // "CFBundleExecutable"

    // The user's languages, most preferred first, as BCP 47 tags ("de-DE"), from LANGUAGE and
    // LANG; "en" when neither says.
    static std::vector<std::string> preferredLanguages();

  private:
    Dictionary info_;
};
