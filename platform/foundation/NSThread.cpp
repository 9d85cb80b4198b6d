#include "platform/foundation/NSThread.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {
// As deep as the platform goes when it lists a thread's stack.
constexpr int kMaxFrames = 128;

const char* fileNameOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}
}  // namespace

// Kept out of line, so that the first frame it skips is always its own.
__attribute__((noinline)) std::vector<std::string> NSThread::callStackSymbols() {
    void* addresses[kMaxFrames + 1];
    const int count = backtrace(addresses, kMaxFrames + 1);
    std::vector<std::string> lines;
    // The first address lies in this function, which is no frame of the caller's stack.
    for (int i = 1; i < count; ++i) lines.push_back(callStackSymbol(lines.size(), addresses[i]));
    return lines;
}

std::string NSThread::callStackSymbol(size_t frame, const void* address) {
    const auto pc = reinterpret_cast<uintptr_t>(address);
    Dl_info info{};
    const bool inImage = dladdr(address, &info) != 0 && info.dli_fname;
    const char* image = inImage && *info.dli_fname ? fileNameOf(info.dli_fname) : "???";

    std::string symbol;
    uintptr_t base = 0;
    if (inImage && info.dli_sname && info.dli_saddr) {
        symbol = info.dli_sname;
        base = reinterpret_cast<uintptr_t>(info.dli_saddr);
    } else {
        base = inImage ? reinterpret_cast<uintptr_t>(info.dli_fbase) : 0;
        char text[24];
        std::snprintf(text, sizeof text, "0x%" PRIxPTR, base);
        symbol = text;
    }

    char head[64];
    std::snprintf(head, sizeof head, "%-4zu", frame);
    char tail[64];
    std::snprintf(tail, sizeof tail, " 0x%016" PRIxPTR " ", pc);
    std::string line = head;
    // The image name pads to a column, as the platform's lines do, but is never cut.
    const size_t imageLength = std::strlen(image);
    line += image;
    if (imageLength < 35) line.append(35 - imageLength, ' ');
    line += tail;
    line += symbol;
    line += " + " + std::to_string(pc - base);
    return line;
}
