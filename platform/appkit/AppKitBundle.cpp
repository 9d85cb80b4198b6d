#include "platform/appkit/AppKitBundle.h"

#include <cstdlib>

std::filesystem::path NSAppKitResourcePath() {
    if (const char* moved = std::getenv("QUORVANE_APPKIT_RESOURCES"); moved && *moved) return moved;
    return QUORVANE_APPKIT_RESOURCES;
}

std::shared_ptr<Bundle> NSAppKitBundle() {
    return Bundle::bundleWithPath(NSAppKitResourcePath());
}
