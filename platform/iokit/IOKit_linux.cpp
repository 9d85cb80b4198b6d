#include <array>
#include <mutex>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/UUID.h"
#include "platform/iokit/IOKit.h"
#include "platform/iokit/testing/IOKitTesting.h"

namespace {

constexpr io_registry_entry_t kPlatformExpertDevice = 1;
constexpr const char* kMachineIdPath = "/etc/machine-id";
// A machine id is 33 bytes; anything much larger is not one, and is not read whole.
constexpr std::uintmax_t kMachineIdReadLimit = 4096;

std::mutex& pathMutex() {
    static std::mutex* mutex = new std::mutex;  // never destroyed: any thread may ask at exit
    return *mutex;
}

std::string& machineIdPathOverride() {
    static std::string* path = new std::string;
    return *path;
}

std::string machineIdPath() {
    std::lock_guard lock(pathMutex());
    return machineIdPathOverride().empty() ? kMachineIdPath : machineIdPathOverride();
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The file holds 32 hex digits and a line feed; anything else is no identifier.
std::optional<std::string> platformUUID() {
    auto contents = FileLocations::readFile(machineIdPath(), nullptr, kMachineIdReadLimit);
    if (!contents) return std::nullopt;
    std::string text(contents->begin(), contents->end());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text.size() != 32) return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        int high = hexDigit(text[2 * i]);
        int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return UUID::fromBytes(bytes).uuidString();
}

}  // namespace

io_service_t IOServiceGetMatchingService(uint32_t, const std::string& serviceClass) {
    return serviceClass == kIOPlatformExpertDeviceClass ? kPlatformExpertDevice : IO_OBJECT_NULL;
}

std::optional<Value> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const std::string& key) {
    if (entry != kPlatformExpertDevice || key != kIOPlatformUUIDKey) return std::nullopt;
    auto uuid = platformUUID();
    if (!uuid) return std::nullopt;
    return Value(*uuid);
}

void IOObjectRelease(io_object_t) {}

void IOKitTesting::setMachineIdPath(const std::string& path) {
    std::lock_guard lock(pathMutex());
    machineIdPathOverride() = path;
}
