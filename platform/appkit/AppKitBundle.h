#pragma once
// The AppKit framework's own resources (its standard key bindings among them): the folder named by
// $QUORVANE_APPKIT_RESOURCES, else the one the build placed them in.
#include <filesystem>
#include <memory>

#include "platform/foundation/Bundle.h"

std::filesystem::path NSAppKitResourcePath();
std::shared_ptr<Bundle> NSAppKitBundle();
