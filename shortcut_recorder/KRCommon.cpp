#include "shortcut_recorder/KRCommon.h"

#include "platform/foundation/Exception.h"

namespace {
// Its address names the code of this library, wherever the library was linked into.
struct KRBundleFinder {
    static void marker() {}
};

std::shared_ptr<Bundle> openResourceBundle(const std::filesystem::path& directory) {
    if (directory.empty()) return nullptr;
    return Bundle::bundleWithPath(directory / (std::string(KRBundleName) + ".bundle"));
}
}  // namespace

std::shared_ptr<Bundle> KRResourceBundle() {
    auto main = Bundle::mainBundle();
    if (auto bundle = openResourceBundle(main->resourcePath())) return bundle;
    if (auto code = Bundle::bundleForAddress(reinterpret_cast<const void*>(&KRBundleFinder::marker))) {
        if (auto bundle = openResourceBundle(code->resourcePath())) return bundle;
    }
    if (auto bundle = openResourceBundle(main->bundlePath())) return bundle;
    throw Exception(NSInternalInconsistencyException,
                    std::string("unable to find bundle named ") + KRBundleName);
}

std::string KRLocalizedString(const std::string& key) {
    return KRResourceBundle()->localizedString(key, "", KRLocalizationTable);
}

std::shared_ptr<NSImage> KRImage(const std::string& name) {
    return NSImage::imageNamed(name, KRResourceBundle()->resourcePath());
}
