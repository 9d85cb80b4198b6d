#include "platform/zazavaroveridiz/ZIZAppEnvironmentUtil.h"

#include <sys/utsname.h>

#include <atomic>

#include "platform/foundation/FileLocations.h"

namespace {
// Firmware texts end with a newline and may be padded; some machines fill them with blanks.
std::string trimmed(std::string text) {
    const char* space = " \t\r\n";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::string firmwareProductName() {
    auto bytes = FileLocations::readFile("/sys/class/dmi/id/product_name", nullptr, 256);
    return bytes ? trimmed(std::string(bytes->begin(), bytes->end())) : std::string();
}
}  // namespace

std::string ZIZAppEnvironmentUtil::deviceModel() {
    std::string product = firmwareProductName();
    if (!product.empty()) return product;
    struct utsname names {};
    return ::uname(&names) == 0 ? names.machine : "";
}

std::string ZIZAppEnvironmentUtil::systemVersion() {
    struct utsname names {};
    return ::uname(&names) == 0 ? names.release : "";
}

namespace {
std::atomic<bool> fromAppStore{false};
}  // namespace

bool ZIZAppEnvironmentUtil::isFromAppStore() {
    return fromAppStore.load();
}

void ZIZAppEnvironmentUtil::setFromAppStoreForTesting(bool isFromAppStore) {
    fromAppStore.store(isFromAppStore);
}
