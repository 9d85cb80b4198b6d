#include "platform/zudedaro/ZUDApp.h"

#include <optional>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/zazavaroveridiz/ZIZLogger.h"
#include "platform/zudedaro/ZUDVersion.h"

namespace {

struct Library {
    std::string name;
    std::string version;
    std::shared_ptr<const ZUDLibrary> library;
};

// Libraries register once, at load, so they are kept across test resets.
struct Libraries {
    std::mutex mutex;
    std::vector<Library> list;
};
constinit SharedInstance<Libraries> sharedLibraries{TestReset::keep};

struct DefaultApp {
    std::mutex mutex;
    std::shared_ptr<ZUDApp> app;
};
constinit SharedInstance<DefaultApp> sharedDefaultApp;

void logError(const char* code, const std::string& message) {
    ZIZLogError(kZUDLoggerCore, false, code, message);
}

std::optional<ZUDOptions> optionsFromServiceInfo() {
    const auto path = Bundle::mainBundle()->pathForResource(ZUDApp::kServiceInfoPlist, "plist");
    Error error;
    const auto bytes = path ? FileLocations::readFile(*path, &error) : std::nullopt;
    const auto info = bytes ? plist::read(*bytes, &error) : std::nullopt;
    if (!info || !info->asDictionary()) {
        logError("I-COR000001", std::string("Cannot read ") + ZUDApp::kServiceInfoPlist +
                                    ".plist among the main bundle's resources; the default app is not "
                                    "configured. " +
                                    error.description);
        return std::nullopt;
    }
    const Value* appID = info->asDictionary()->find(ZUDApp::kAppIDKey);
    if (!appID || !appID->asString() || appID->asString()->empty()) {
        logError("I-COR000002", std::string(ZUDApp::kServiceInfoPlist) + ".plist has no " +
                                    ZUDApp::kAppIDKey + "; the default app is not configured.");
        return std::nullopt;
    }
    return ZUDOptions{*appID->asString()};
}

std::vector<std::shared_ptr<ZUDComponent>> registeredComponents() {
    std::vector<Library> registered;
    {
        auto libraries = sharedLibraries.get();
        std::lock_guard lock(libraries->mutex);
        registered = libraries->list;
    }
    // Asked outside the lock: a library's answer is its own code.
    std::vector<std::shared_ptr<ZUDComponent>> components;
    for (const auto& entry : registered)
        for (auto& component : entry.library->componentsToRegister())
            components.push_back(std::move(component));
    return components;
}

}  // namespace

ZUDApp::ZUDApp(ZUDOptions options, const std::vector<std::shared_ptr<ZUDComponent>>& components)
    : options_(std::move(options)),
      configuration_(std::make_shared<ZUDAnalyticsConfiguration>()),
      container_(components) {}

void ZUDApp::configure() {
    if (isDefaultAppConfigured()) {
        ZIZLogWarning(kZUDLoggerCore, false, "I-COR000003", "The default app has already been configured.");
        return;
    }
    if (auto options = optionsFromServiceInfo()) configureWithOptions(*options);
}

void ZUDApp::configureWithOptions(const ZUDOptions& options) {
    auto made = std::make_shared<ZUDApp>(options, registeredComponents());
    {
        auto state = sharedDefaultApp.get();
        std::lock_guard lock(state->mutex);
        if (state->app) {
            ZIZLogWarning(kZUDLoggerCore, false, "I-COR000003",
                          "The default app has already been configured.");
            return;
        }
        state->app = made;
    }
    // Started outside the lock: the library asks whether the default app is configured.
    auto entry = std::dynamic_pointer_cast<const ZUDAnalyticsStartEntry>(
        Runtime::classNamed(ZUDAnalyticsStartEntry::kClassName));
    if (entry) entry->startWithConfiguration(made->analyticsConfiguration(), made->options());
}

bool ZUDApp::isDefaultAppConfigured() {
    return defaultApp() != nullptr;
}

std::shared_ptr<ZUDApp> ZUDApp::defaultApp() {
    auto state = sharedDefaultApp.get();
    std::lock_guard lock(state->mutex);
    return state->app;
}

void ZUDApp::registerInternalLibrary(std::shared_ptr<const ZUDLibrary> library, const std::string& name,
                                     const std::string& version) {
    if (!library || name.empty()) {
        logError("I-COR000004", "A library without components or name cannot be registered.");
        return;
    }
    auto libraries = sharedLibraries.get();
    std::lock_guard lock(libraries->mutex);
    // A library loaded twice registers twice; it counts once, with what it registered last.
    std::erase_if(libraries->list, [&](const Library& entry) { return entry.name == name; });
    libraries->list.push_back({name, version, std::move(library)});
}

std::vector<std::string> ZUDApp::registeredLibraries() {
    auto libraries = sharedLibraries.get();
    std::lock_guard lock(libraries->mutex);
    std::vector<std::string> names;
    for (const auto& entry : libraries->list) names.push_back(entry.name + "/" + entry.version);
    return names;
}
