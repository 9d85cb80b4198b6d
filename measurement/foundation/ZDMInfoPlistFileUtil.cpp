#include "measurement/foundation/ZDMInfoPlistFileUtil.h"

#include "measurement/foundation/ZDMFileMoves.h"
#include "platform/foundation/Bundle.h"

std::optional<std::string> ZDMInfoPlistFileUtil::zizodaServiceInfoPlistPath() {
    static const char kName[] = "ZizodaService-Info";
    static const char kType[] = "plist";
    if (auto path = Bundle::mainBundle()->pathForResource(kName, kType)) return path->string();
    auto ownBundle = Bundle::bundleForAddress(reinterpret_cast<const void*>(&zizodaServiceInfoPlistPath));
    if (ownBundle)
        if (auto path = ownBundle->pathForResource(kName, kType)) return path->string();
    return std::nullopt;
}

std::optional<Dictionary> ZDMInfoPlistFileUtil::dictionaryFromZizodaServiceInfoPlist() {
    auto path = zizodaServiceInfoPlistPath();
    if (!path || path->empty()) return std::nullopt;
    return ZDMReadPlistDictionary(*path);
}
