#include "measurement/foundation/ZDMAEU.h"

#include <filesystem>
#include <system_error>

#include "platform/foundation/Bundle.h"
#include "platform/zazavaroveridiz/ZIZAppEnvironmentUtil.h"

std::optional<std::string> ZDMAEU::appStoreRURL() {
    auto bundle = Bundle::mainBundle();
    auto check = bundle->objectForInfoDictionaryKey("ZudedaroAppStoreReceiptURLCheckEnabled");
    if (check && check->isNumber() && !*check->asBool()) return std::nullopt;
    return bundle->appStoreReceiptURL();
}

bool ZDMAEU::isASRS() {
    auto url = appStoreRURL();
    if (!url) return false;
    std::string path = *url;
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path.substr(path.find_last_of('/') + 1) == "sandboxReceipt";
}

bool ZDMAEU::isNOD() {
    return false;
}

bool ZDMAEU::isFAS() {
    if (isNOD() || isASRS()) return false;
    const std::string& bundlePath = Bundle::mainBundle()->bundlePath();
    if (bundlePath.empty()) return false;
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::path(bundlePath) / "SC_Info", ec);
}

bool ZDMAEU::isAEX() {
    const std::string& path = Bundle::mainBundle()->bundlePath();
    constexpr std::string_view kExtension = ".appex";
    return path.size() >= kExtension.size() &&
           path.compare(path.size() - kExtension.size(), kExtension.size(), kExtension) == 0;
}

std::string ZDMAEU::deviceModel() {
    return ZIZAppEnvironmentUtil::deviceModel();
}

std::string ZDMAEU::systemVersion() {
    return ZIZAppEnvironmentUtil::systemVersion();
}
