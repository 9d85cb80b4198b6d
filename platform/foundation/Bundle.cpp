#include "platform/foundation/Bundle.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "platform/foundation/SharedInstance.h"

namespace {
// What the program registered at start-up stays when a test starts the process's state again.
constinit SharedInstance<Bundle> sharedMainBundle{[] { return std::make_shared<Bundle>(Dictionary{}); },
                                                  TestReset::keep};

// "de_DE.UTF-8" or "de_DE@euro" → "de-DE"; "C" and "POSIX" say nothing about a language.
std::string languageTag(std::string locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return {};
    for (char& c : locale)
        if (c == '_') c = '-';
    return locale;
}

std::string executableDirectory() {
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : executable.parent_path().string();
}
}  // namespace

std::shared_ptr<Bundle> Bundle::mainBundle() {
    return sharedMainBundle.get();
}

void Bundle::setMainBundle(std::shared_ptr<Bundle> bundle) {
    sharedMainBundle.set(std::move(bundle));
}

void Bundle::resetMainBundle() {
    setMainBundle(nullptr);
}

Bundle::Bundle(Dictionary infoDictionary) : info_(std::move(infoDictionary)), path_(executableDirectory()) {}

std::optional<Value> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    if (const Value* v = info_.find(key)) return *v;
    return std::nullopt;
}

std::string Bundle::bundleIdentifier() const {
    return info_["CFBundleIdentifier"].stringOr("");
}
std::string Bundle::shortVersion() const {
    return info_["CFBundleShortVersionString"].stringOr("");
}
std::string Bundle::buildVersion() const {
    return info_["CFBundleVersion"].stringOr("");
}
std::string Bundle::name() const {
    return info_["CFBundleName"].stringOr("");
}
std::string Bundle::displayName() const {
    return info_["CFBundleDisplayName"].stringOr(name());
}
std::string Bundle::executableName() const {
    return info_["CFBundleExecutable"].stringOr("");
}

std::vector<std::string> Bundle::preferredLanguages() {
    std::vector<std::string> out;
    auto add = [&](const std::string& locale) {
        std::string tag = languageTag(locale);
        if (!tag.empty() && std::find(out.begin(), out.end(), tag) == out.end()) out.push_back(tag);
    };
    if (const char* language = std::getenv("LANGUAGE")) {
        std::stringstream list(language);
        for (std::string item; std::getline(list, item, ':');) add(item);
    }
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* locale = std::getenv(variable); locale && *locale) {
            add(locale);
            break;
        }
    }
    if (out.empty()) out.push_back("en");
    return out;
}
