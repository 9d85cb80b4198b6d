#pragma once
// The application's bundle: its Info.plist values and the user's languages. The program registers
// its own bundle at start-up (setMainBundle); until then the info dictionary is empty, as that of an
// executable without an Info.plist is.
// A bundle on disk (a library's resource bundle) is a directory with an optional Info.plist and its
// resources at its top level: "<language>.lproj/<table>.strings" tables, images and data assets.
#include <filesystem>
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

    // Null when no directory is there. A path opened before gives the same bundle again.
    static std::shared_ptr<Bundle> bundleWithPath(const std::filesystem::path& path);
    // The bundle of the directory holding the code at `address` (the executable or the shared
    // object it lies in); null when the address belongs to no loaded code.
    static std::shared_ptr<Bundle> bundleForAddress(const void* address);

    // A bundle on disk: its directory. Otherwise (the program's bundle) the executable's directory,
    // unless set: set it, and the receipt URL, before the bundle is installed as the main bundle.
    std::filesystem::path bundlePath() const;
    void setBundlePath(std::filesystem::path path) { path_ = std::move(path); }
    // Where an application store would leave its receipt; none on Linux unless set.
    const std::optional<std::string>& appStoreReceiptURL() const { return receiptURL_; }
    void setAppStoreReceiptURL(std::optional<std::string> url) { receiptURL_ = std::move(url); }
    // The application version ("CFBundleShortVersionString") of the first run on this machine, as
    // the platform keeps it with the install: recorded below the application support directory at
    // the first call and read back ever after. nullopt when it can be neither read nor recorded.
    std::optional<std::string> originalApplicationVersion() const;
    // A bundle on disk: its directory. The program's bundle: $QUORVANE_RESOURCES, else Resources/
    // beside the executable, where the program's images are.
    std::filesystem::path resourcePath() const;
    // The entry of `table` in the user's first language that has it (then the development region's,
    // "en" unless CFBundleDevelopmentRegion says otherwise); when none has it, `value`, or `key` when
    // `value` is empty.
    std::string localizedString(const std::string& key, const std::string& value,
                                const std::string& table) const;
    // "<resourcePath>/<name>.<extension>" when a regular file is there.
    std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                         const std::string& extension) const;

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
    struct Tables;
    std::optional<std::string> lookUp(const std::string& localization, const std::string& table,
                                      const std::string& key) const;

    Dictionary info_;
    std::optional<std::filesystem::path> path_;  // a bundle on disk, or a path set for the program's
    std::shared_ptr<Tables> tables_;             // strings tables read so far, shared by copies
    std::optional<std::string> receiptURL_;
};
