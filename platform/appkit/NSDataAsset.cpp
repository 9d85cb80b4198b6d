#include "platform/appkit/NSDataAsset.h"

#include "platform/foundation/FileLocations.h"

std::shared_ptr<NSDataAsset> NSDataAsset::initWithName(const std::string& name, const Bundle& bundle) {
    constexpr std::uintmax_t kMaxAssetBytes = 16 << 20;
    if (name.empty() || name.find('/') != std::string::npos) return nullptr;
    auto path = bundle.pathForResource(name, "data");
    if (!path) return nullptr;
    auto bytes = FileLocations::readFile(*path, nullptr, kMaxAssetBytes);
    if (!bytes) return nullptr;
    return std::make_shared<NSDataAsset>(name, std::move(*bytes));
}
