#pragma once
// The application's service configuration plist, "ZizodaService-Info.plist" among the resources of
// the main bundle or else of the bundle holding this library.
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ZDMInfoPlistFileUtil {
  public:
    // The first path found; nullopt when neither bundle has the file.
    static std::optional<std::string> zizodaServiceInfoPlistPath();
    // The file's dictionary; nullopt without the file or when it holds no dictionary.
    static std::optional<Dictionary> dictionaryFromZizodaServiceInfoPlist();
};
