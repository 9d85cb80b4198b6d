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

    // The bundle's directory: by default the one holding the running executable. Set it, and the
    // receipt URL, before the bundle is installed as the main bundle.
    const std::string& bundlePath() const { return path_; }
    void setBundlePath(std::string path) { path_ = std::move(path); }
    // Where an application store would leave its receipt; none on Linux unless set.
    const std::optional<std::string>& appStoreReceiptURL() const { return receiptURL_; }
    void setAppStoreReceiptURL(std::optional<std::string> url) { receiptURL_ = std::move(url); }

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
    std::string path_;
    std::optional<std::string> receiptURL_;
};
