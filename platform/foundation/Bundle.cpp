#include "platform/foundation/Bundle.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"
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

// A strings table bigger than this is no table of a bundle of ours.
constexpr std::uintmax_t kMaxTableBytes = 4 << 20;
// A version is a short text; a bigger record is not one the bundle wrote.
constexpr std::uintmax_t kMaxVersionRecordBytes = 4096;

std::filesystem::path executableDirectory() {
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : executable.parent_path();
}

// Bundles on disk live for the process, as the platform keeps them: the same path, the same bundle
// with the tables it has read.
struct OpenedBundles {
    std::mutex mutex;
    std::map<std::filesystem::path, std::shared_ptr<Bundle>> byPath;
};
OpenedBundles& openedBundles() {
    static auto* opened = new OpenedBundles;
    return *opened;
}

// A table that is missing, unreadable or not a dictionary of strings has no entries: a broken
// translation shows keys rather than stopping the program.
Dictionary readStringsTable(const std::filesystem::path& file) {
    auto bytes = FileLocations::readFile(file, nullptr, kMaxTableBytes);
    if (!bytes) return {};
    auto value = plist::read(*bytes);
    if (!value || !value->asDictionary()) return {};
    Dictionary table;
    for (const auto& [key, entry] : *value->asDictionary())
        if (entry.isString()) table.set(key, entry);
    return table;
}
}  // namespace

struct Bundle::Tables {
    std::mutex mutex;
    std::map<std::filesystem::path, Dictionary> byFile;
};

std::shared_ptr<Bundle> Bundle::mainBundle() {
    return sharedMainBundle.get();
}

void Bundle::setMainBundle(std::shared_ptr<Bundle> bundle) {
    sharedMainBundle.set(std::move(bundle));
}

void Bundle::resetMainBundle() {
    setMainBundle(nullptr);
}

Bundle::Bundle(Dictionary infoDictionary)
    : info_(std::move(infoDictionary)), tables_(std::make_shared<Tables>()) {}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::filesystem::path& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_directory(path, ec)) return nullptr;
    auto canonical = std::filesystem::weakly_canonical(path, ec);
    if (ec) canonical = path;
    auto& opened = openedBundles();
    std::lock_guard lock(opened.mutex);
    auto& bundle = opened.byPath[canonical];
    if (!bundle) {
        Dictionary info;
        if (auto bytes = FileLocations::readFile(canonical / "Info.plist")) {
            if (auto value = plist::read(*bytes); value && value->asDictionary())
                info = *value->asDictionary();
        }
        bundle = std::make_shared<Bundle>(std::move(info));
        bundle->path_ = canonical;
    }
    return bundle;
}

std::shared_ptr<Bundle> Bundle::bundleForAddress(const void* address) {
    Dl_info info{};
    link_map* image = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&image), RTLD_DL_LINKMAP) || !image) return nullptr;
    // The executable's own entry has no name, and the loader's fallback (argv[0]) may be relative to
    // a directory the program has left since.
    if (!image->l_name || !*image->l_name) return bundleWithPath(executableDirectory());
    return bundleWithPath(std::filesystem::path(image->l_name).parent_path());
}

std::filesystem::path Bundle::bundlePath() const {
    return path_ ? *path_ : executableDirectory();
}

std::filesystem::path Bundle::resourcePath() const {
    if (path_) return *path_;
    if (const char* dir = std::getenv("QUORVANE_RESOURCES"); dir && *dir) return dir;
    return executableDirectory() / "Resources";
}

std::string Bundle::localizedString(const std::string& key, const std::string& value,
                                    const std::string& table) const {
    std::vector<std::string> localizations;
    auto add = [&](const std::string& tag) {
        if (!tag.empty() && std::find(localizations.begin(), localizations.end(), tag) == localizations.end())
            localizations.push_back(tag);
    };
    for (const auto& language : preferredLanguages()) {
        add(language);
        add(language.substr(0, language.find('-')));
    }
    add(info_["CFBundleDevelopmentRegion"].stringOr("en"));
    for (const auto& localization : localizations) {
        if (auto entry = lookUp(localization, table, key)) return *entry;
    }
    return value.empty() ? key : value;
}

std::optional<std::string> Bundle::lookUp(const std::string& localization, const std::string& table,
                                          const std::string& key) const {
    auto file = resourcePath() / (localization + ".lproj") / (table + ".strings");
    std::lock_guard lock(tables_->mutex);
    auto found = tables_->byFile.find(file);
    if (found == tables_->byFile.end()) found = tables_->byFile.emplace(file, readStringsTable(file)).first;
    if (const Value* entry = found->second.find(key)) return *entry->asString();
    return std::nullopt;
}

std::optional<std::filesystem::path> Bundle::pathForResource(const std::string& name,
                                                             const std::string& extension) const {
    if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
    auto file = resourcePath() / (extension.empty() ? name : name + "." + extension);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    return file;
}

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
std::optional<std::string> Bundle::originalApplicationVersion() const {
    // An identifier that is no plain file name keeps its record in the shared place, not elsewhere.
    std::string owner = bundleIdentifier();
    if (owner.empty() || owner == "." || owner == ".." || owner.find('/') != std::string::npos)
        owner = "application";
    const auto file = FileLocations::applicationSupportDirectory() / owner / "OriginalApplicationVersion";
    Error error;
    if (const auto recorded = FileLocations::readFile(file, &error, kMaxVersionRecordBytes))
        return std::string(recorded->begin(), recorded->end());
    // Only a missing record is a first run; an unreadable one is not replaced.
    if (error.code != FileLocations::kFileReadNoSuchFileError) return std::nullopt;
    const std::string version = shortVersion();
    if (!FileLocations::ensureDirectory(file.parent_path()) ||
        !FileLocations::writeFileAtomically(file, Data(version.begin(), version.end())))
        return std::nullopt;
    return version;
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
