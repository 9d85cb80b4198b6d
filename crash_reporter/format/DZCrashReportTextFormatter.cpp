#include "crash_reporter/format/DZCrashReportTextFormatter.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "platform/foundation/SystemLog.h"
#include "platform/foundation/Unicode.h"

namespace {

constexpr uint64_t kCPUTypeX86 = 7;
constexpr uint64_t kCPUTypeARM = 12;
constexpr uint64_t kCPUTypePowerPC = 18;
constexpr uint64_t kCPUTypeX86_64 = 0x01000007;
constexpr uint64_t kCPUTypeARM64 = 0x0100000C;
constexpr uint64_t kCPUSubtypeMask = 0xFFFFFF;
constexpr size_t kFrameFileColumns = 35;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    va_list arguments;
    va_start(arguments, pattern);
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, pattern, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, pattern, arguments);
    va_end(arguments);
    return text;
}

std::string orUnknown(const std::optional<std::string>& text) {
    return text ? *text : "???";
}

// As the platform takes a path's last component: trailing slashes do not count, "/" stays "/".
std::string lastPathComponent(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path.empty() ? path : "/";
    size_t slash = path.rfind('/', end);
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(start, end + 1 - start);
}

std::string operatingSystemName(DZCrashReportOperatingSystem system) {
    switch (system) {
        case DZCrashReportOperatingSystem::MacOSX:
        case DZCrashReportOperatingSystem::iPhoneSimulator:
            return "Mac OS X";
        case DZCrashReportOperatingSystem::iPhoneOS:
            return "iPhone OS";
        case DZCrashReportOperatingSystem::AppleTVOS:
            return "Apple tvOS";
        default:
            return format("Unknown (%d)", static_cast<int>(system));
    }
}

// Whether a leading "_" of a symbol is the platform's C prefix, which reports show without it.
bool hasKnownSymbolPrefixRules(DZCrashReportOperatingSystem system) {
    return system != DZCrashReportOperatingSystem::Unknown && static_cast<int>(system) >= 0 &&
           static_cast<int>(system) <= static_cast<int>(DZCrashReportOperatingSystem::AppleTVOS);
}

bool isMach(const std::shared_ptr<DZCrashReportProcessorInfo>& processor) {
    return processor && processor->typeEncoding() == DZCrashReportProcessorTypeEncoding::Mach;
}

struct CodeType {
    std::string text;
    bool lp64 = true;
};

std::optional<CodeType> knownCodeType(uint64_t type) {
    switch (type) {
        case kCPUTypeX86:
            return CodeType{"X86", false};
        case kCPUTypeARM:
            return CodeType{"ARM", false};
        case kCPUTypePowerPC:
            return CodeType{"PPC", false};
        case kCPUTypeX86_64:
            return CodeType{"X86-64", true};
        case kCPUTypeARM64:
            return CodeType{"ARM-64", true};
        default:
            return std::nullopt;
    }
}

// The images say best what code ran; the system's processor decides only when none of them does.
CodeType codeTypeOf(const DZCrashReport& report) {
    for (const auto& image : report.images()) {
        if (!isMach(image->codeType())) continue;
        if (auto known = knownCodeType(image->codeType()->type())) return *known;
    }
    const auto& processor = report.systemInfo() ? report.systemInfo()->processorInfo() : nullptr;
    if (!isMach(processor)) return CodeType{"Unknown", true};
    if (auto known = knownCodeType(processor->type())) return *known;
    return CodeType{format("Unknown (%" PRIu64 ")", processor->type()), true};
}

std::string architectureName(const std::shared_ptr<DZCrashReportProcessorInfo>& codeType) {
    if (!isMach(codeType)) return "???";
    uint64_t subtype = codeType->subtype() & kCPUSubtypeMask;
    switch (codeType->type()) {
        case kCPUTypeX86:
            return "i386";
        case kCPUTypeARM:
            return subtype == 6 ? "armv6" : subtype == 9 ? "armv7" : subtype == 11 ? "armv7s" : "arm-unknown";
        case kCPUTypePowerPC:
            return "powerpc";
        case kCPUTypeX86_64:
            return "x86_64";
        case kCPUTypeARM64:
            return subtype == 0   ? "arm64"
                   : subtype == 1 ? "armv8"
                   : subtype == 2 ? "arm64e"
                                  : "arm64-unknown";
        default:
            return "???";
    }
}

std::string dateText(const std::optional<Date>& date) {
    if (!date) return "???";
    time_t seconds = static_cast<time_t>(std::floor(date->timeIntervalSince1970()));
    struct tm parts {};
    if (!gmtime_r(&seconds, &parts)) return "???";
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return text;
}

std::string versionText(const DZCrashReportApplicationInfo& application) {
    // The writer stores a missing marketing version as "", so an empty one is no version at all.
    const auto& marketing = application.applicationMarketingVersion();
    if (!marketing || marketing->empty()) return application.applicationVersion();
    return *marketing + " (" + application.applicationVersion() + ")";
}

std::string processLine(const char* label, const std::optional<std::string>& name, uint64_t id, bool known) {
    return format("%s%s [%s]\n", label, known ? orUnknown(name).c_str() : "???",
                  known ? std::to_string(id).c_str() : "???");
}

// The platform names ARM's r12 "ip" in its thread states.
bool namesR12AsIP(const DZCrashReport& report) {
    if (!report.hasMachineInfo()) return false;
    const auto& processor = report.machineInfo()->processorInfo();
    return isMach(processor) && (processor->type() & kCPUSubtypeMask) == kCPUTypeARM;
}

void appendThreadState(std::string& text, const DZCrashReport& report, const DZCrashReportThreadInfo& thread,
                       const CodeType& codeType) {
    text += format("Thread %" PRId64 " crashed with %s Thread State:\n", thread.threadNumber(),
                   codeType.text.c_str());
    bool ip = namesR12AsIP(report);
    size_t cells = 0;
    for (const auto& reg : thread.registers()) {
        const std::string& name =
            ip && reg->registerName() == "r12" ? std::string("ip") : reg->registerName();
        text += codeType.lp64 ? format("%6s: 0x%016" PRIx64 " ", name.c_str(), reg->registerValue())
                              : format("%6s: 0x%08" PRIx64 " ", name.c_str(), reg->registerValue());
        if (++cells % 4 == 0) text += "\n";
    }
    if (cells % 4 != 0) text += "\n";
    text += "\n";
}

void appendBinaryImages(std::string& text, const DZCrashReport& report, bool lp64) {
    text += "Binary Images:\n";
    auto images = report.images();
    std::stable_sort(images.begin(), images.end(), [](const auto& a, const auto& b) {
        return a->imageBaseAddress() < b->imageBaseAddress();
    });
    const auto& processPath = report.hasProcessInfo() ? report.processInfo()->processPath() : std::nullopt;
    uint64_t previousBase = 0;
    for (const auto& image : images) {
        uint64_t base = image->imageBaseAddress();
        if (base == previousBase) continue;
        previousBase = base;
        uint64_t end = base + std::max<uint64_t>(image->imageSize(), 1) - 1;
        const std::string& name = image->imageName();
        text += format(lp64 ? "%#18" PRIx64 " - %#18" PRIx64 " %s%s %s  <%s> %s\n"
                            : "%#10" PRIx64 " - %#10" PRIx64 " %s%s %s  <%s> %s\n",
                       base, end, processPath == name ? "+" : " ", lastPathComponent(name).c_str(),
                       architectureName(image->codeType()).c_str(), orUnknown(image->imageUUID()).c_str(),
                       name.c_str());
    }
}

void appendFrames(std::string& text, const std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>>& frames,
                  const DZCrashReport& report, bool lp64) {
    uint64_t index = 0;
    for (const auto& frame : frames) {
        text += DZCrashReportTextFormatter::formatStackFrame(*frame, index++, report, lp64);
    }
}

void appendLossy(Data& bytes, const std::string& text, char32_t limit) {
    for (size_t offset = 0; offset < text.size();) {
        char32_t character = decodeUtf8(text, offset);
        bytes.push_back(character < limit ? static_cast<uint8_t>(character) : '?');
    }
}

// Well-formed sequences pass as they are; a stray byte becomes U+FFFD, so the bytes are valid UTF-8.
void appendUtf8(Data& bytes, const std::string& text) {
    for (size_t offset = 0; offset < text.size();) {
        size_t length = utf8SequenceLength(text, offset);
        if (length == 0) {
            bytes.insert(bytes.end(), {0xEF, 0xBF, 0xBD});
            offset += 1;
        } else {
            bytes.insert(bytes.end(), text.begin() + static_cast<ptrdiff_t>(offset),
                         text.begin() + static_cast<ptrdiff_t>(offset + length));
            offset += length;
        }
    }
}

}  // namespace

std::optional<Data> DZCrashReportTextFormatter::formatReport(const DZCrashReport& report, Error*) {
    std::string text = stringValueForCrashReport(report, textFormat_);
    Data bytes;
    bytes.reserve(text.size());
    switch (stringEncoding_) {
        case DZUTF8StringEncoding:
            appendUtf8(bytes, text);
            return bytes;
        case DZASCIIStringEncoding:
            appendLossy(bytes, text, 0x80);
            return bytes;
        case DZISOLatin1StringEncoding:
            appendLossy(bytes, text, 0x100);
            return bytes;
        default:
            return std::nullopt;
    }
}

std::string DZCrashReportTextFormatter::stringValueForCrashReport(const DZCrashReport& report, int32_t) {
    std::string text;
    CodeType codeType = codeTypeOf(report);
    const auto& system = report.systemInfo();
    const auto& application = report.applicationInfo();
    const auto& process = report.processInfo();

    text += "Incident Identifier: " + (report.uuidRef() ? report.uuidRef()->uuidString() : "???") + "\n";
    text += "Hardware Model:      " +
            (report.hasMachineInfo() ? orUnknown(report.machineInfo()->modelName()) : "???") + "\n";
    text += processLine("Process:         ", process ? process->processName() : std::nullopt,
                        process ? process->processID() : 0, process != nullptr);
    text += "Path:            " + (process ? orUnknown(process->processPath()) : "???") + "\n";
    text += "Identifier:      " + (application ? application->applicationIdentifier() : "???") + "\n";
    text += "Version:         " + (application ? versionText(*application) : "???") + "\n";
    text += "Code Type:       " + codeType.text + "\n";
    text += processLine("Parent Process:  ", process ? process->parentProcessName() : std::nullopt,
                        process ? process->parentProcessID() : 0, process != nullptr);
    text += "\n";
    text += "Date/Time:       " + (system ? dateText(system->timestamp()) : "???") + "\n";
    text +=
        "OS Version:      " +
        (system ? operatingSystemName(system->operatingSystem()) + " " + system->operatingSystemVersion() +
                      " (" + orUnknown(system->operatingSystemBuild()) + ")"
                : "???") +
        "\n";
    text += "Report Version:  104\n\n";

    if (const auto& signal = report.signalInfo()) {
        text += "Exception Type:  " + signal->name() + "\n";
        text += format("Exception Codes: %s at 0x%" PRIx64 "\n", signal->code().c_str(), signal->address());
    }
    const auto& threads = report.threads();
    auto firstCrashed =
        std::find_if(threads.begin(), threads.end(), [](const auto& t) { return t->crashed(); });
    if (firstCrashed != threads.end())
        text += format("Crashed Thread:  %" PRId64 "\n", (*firstCrashed)->threadNumber());
    text += "\n";

    if (const auto& exception = report.exceptionInfo()) {
        text += "Application Specific Information:\n";
        text += "*** Terminating app due to uncaught exception '" + exception->exceptionName() +
                "', reason: '" + exception->exceptionReason() + "'\n\n";
        if (exception->stackFrames() && !exception->stackFrames()->empty()) {
            text += "Last Exception Backtrace:\n";
            appendFrames(text, *exception->stackFrames(), report, codeType.lp64);
            text += "\n";
        }
    }

    for (const auto& thread : threads) {
        text += format(thread->crashed() ? "Thread %" PRId64 " Crashed:\n" : "Thread %" PRId64 ":\n",
                       thread->threadNumber());
        appendFrames(text, thread->stackFrames(), report, codeType.lp64);
        text += "\n";
    }

    auto lastCrashed =
        std::find_if(threads.rbegin(), threads.rend(), [](const auto& t) { return t->crashed(); });
    if (lastCrashed != threads.rend()) appendThreadState(text, report, **lastCrashed, codeType);

    appendBinaryImages(text, report, codeType.lp64);
    return text;
}

std::string DZCrashReportTextFormatter::formatStackFrame(const DZCrashReportStackFrameInfo& frame,
                                                         uint64_t frameIndex, const DZCrashReport& report,
                                                         bool lp64) {
    uint64_t pc = frame.instructionPointer();
    std::string file = "???";
    uint64_t base = 0;
    uint64_t offset = 0;
    if (auto image = report.imageForAddress(pc)) {
        file = lastPathComponent(image->imageName());
        base = image->imageBaseAddress();
        offset = pc - base;
    } else if (pc != 0) {
        systemLog(SystemLogLevel::Info, format("[DZCrashReporter] Cannot find image for 0x%" PRIx64, pc));
    }

    std::string symbol;
    if (const auto& info = frame.symbolInfo()) {
        std::string name = info->symbolName();
        if (name.size() > 1 && name[0] == '_') {
            auto system = report.systemInfo() ? report.systemInfo()->operatingSystem()
                                              : DZCrashReportOperatingSystem::Unknown;
            if (hasKnownSymbolPrefixRules(system)) {
                name.erase(0, 1);
            } else {
                systemLog(SystemLogLevel::Info,
                          format("[DZCrashReporter] Symbol \"%s\" prefix rules are unknown for this OS!",
                                 name.c_str()));
            }
        }
        symbol = format("%s + %" PRId64, name.c_str(), static_cast<int64_t>(pc - info->startAddress()));
    } else {
        symbol = format("0x%" PRIx64 " + %" PRId64, base, static_cast<int64_t>(offset));
    }

    // The file column is measured in characters (UTF-16 units, as the platform counts), not bytes.
    size_t units = utf16Length(file);
    if (units < kFrameFileColumns) file.append(kFrameFileColumns - units, ' ');
    return format("%-4" PRIu64 "%s 0x%0*" PRIx64 " %s\n", frameIndex, file.c_str(), lp64 ? 16 : 8, pc,
                  symbol.c_str());
}
