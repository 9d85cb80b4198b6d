#include "platform/skylight/SkyLight.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/skylight/SkyLightBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
constexpr size_t kKindOffset = 0x08;
constexpr size_t kWindowOffset = 0x3C;

// A make-key record: its length byte, the 16 bytes of 0xFF and the marker at 0x3A, with kind 1
// (the window is about to become key) or 2 (it becomes key).
bool isMakeKeyRecord(const SLPSEventRecord& record) {
    return record[0x04] == 0xF8 && record[0x3A] == 0x10 &&
           std::all_of(record.begin() + 0x20, record.begin() + 0x30, [](uint8_t b) { return b == 0xFF; });
}

// The window number is in host byte order.
CGWindowID windowOf(const SLPSEventRecord& record) {
    CGWindowID window;
    std::memcpy(&window, &record[kWindowOffset], sizeof window);
    return window;
}

// The window announced by the last kind-1 record, until its kind-2 record arrives.
std::optional<std::pair<pid_t, CGWindowID>> pendingKeyWindow;
}  // namespace

SkyLightBackend& SkyLightBackend::current() {
    return X11Desktop::current() ? x11SkyLight() : simulatedSkyLight();
}

CGError _SLPSSetFrontProcessWithOptions(const ProcessSerialNumber* psn, CGWindowID window, uint32_t options) {
    pid_t pid = 0;
    if (GetProcessPID(psn, &pid) != noErr) return kCGErrorIllegalArgument;
    SkyLightBackend::current().setFrontProcess(pid, window, options);
    return kCGErrorSuccess;
}

CGError SLPSPostEventRecordTo(const ProcessSerialNumber* psn, const SLPSEventRecord& record) {
    pid_t pid = 0;
    if (GetProcessPID(psn, &pid) != noErr) return kCGErrorIllegalArgument;
    auto& backend = SkyLightBackend::current();
    backend.posted(pid, windowOf(record), record);
    if (!isMakeKeyRecord(record)) return kCGErrorSuccess;
    auto target = std::make_pair(pid, windowOf(record));
    if (record[kKindOffset] == 0x01) {
        pendingKeyWindow = target;
    } else if (record[kKindOffset] == 0x02 && pendingKeyWindow == target) {
        pendingKeyWindow.reset();
        backend.makeKeyWindow(pid, target.second);
    }
    return kCGErrorSuccess;
}
