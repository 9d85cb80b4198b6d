#include "DudIzizozCrashes/Internals/Util/DIZErrorLogFormatter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizozCrashes/Internals/Util/DIZWrapperExceptionManager.h"
#include "platform/dyld/dyld.h"
#include "platform/dyld/loader.h"
#include "platform/security/CommonCrypto.h"

namespace {

constexpr const char* kLogTag = "DudIzizozCrashes";
constexpr const char* kUnknown = "???";

std::string printed(const char* format, auto... args) {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, args...);
    return buffer.data();
}

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "." and ".." resolved and a trailing "/" dropped, as the platform standardises a path.
std::string standardized(const std::string& path) {
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    if (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

// Every "<home><name>/" becomes "<home>USER/", scanning once from left to right as a global
// replacement of "(<home>[^/]+/)" would.
std::string withoutUserNames(const std::string& path, std::string_view home) {
    std::string out;
    size_t position = 0;
    while (position < path.size()) {
        const size_t match = path.find(home, position);
        if (match == std::string::npos) break;
        const size_t nameStart = match + home.size();
        const size_t nameEnd = path.find('/', nameStart);
        if (nameEnd == std::string::npos) break;
        if (nameEnd == nameStart) {
            out.append(path, position, match + 1 - position);
            position = match + 1;
            continue;
        }
        out.append(path, position, match - position).append(home).append("USER/");
        position = nameEnd + 1;
    }
    out.append(path, position);
    return out;
}

// What a report holds, written as length-prefixed fields: two reports give the same text only
// when they tell the same. A report without a UUID is named by the digest of this text.
class Fingerprint {
  public:
    void add(std::string_view text) {
        add(uint64_t{text.size()});
        text_.append(text);
    }
    void add(const std::string& text) { add(std::string_view(text)); }
    void add(uint64_t number) { text_.append(reinterpret_cast<const char*>(&number), sizeof number); }
    void add(const std::optional<std::string>& text) {
        add(uint64_t{text.has_value()});
        if (text) add(*text);
    }
    void add(const std::optional<Date>& date) {
        add(uint64_t{date.has_value()});
        if (date) add(std::bit_cast<uint64_t>(date->timeIntervalSinceReferenceDate()));
    }
    void add(const std::shared_ptr<DZCrashReportProcessorInfo>& processor) {
        add(uint64_t{processor != nullptr});
        if (!processor) return;
        add(static_cast<uint64_t>(processor->typeEncoding()));
        add(processor->type());
        add(processor->subtype());
    }
    void add(const std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>>& frames) {
        add(uint64_t{frames.size()});
        for (const auto& frame : frames) {
            add(frame->instructionPointer());
            const auto& symbol = frame->symbolInfo();
            add(uint64_t{symbol != nullptr});
            if (!symbol) continue;
            add(symbol->symbolName());
            add(symbol->startAddress());
            add(symbol->endAddress());
        }
    }

    UUID nameBasedUUID() const {
        std::array<uint8_t, 32> digest{};
        CC_SHA256(text_.data(), static_cast<uint32_t>(text_.size()), digest.data());
        std::array<uint8_t, 16> bytes{};
        std::copy_n(digest.begin(), bytes.size(), bytes.begin());
        bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x80);  // version 8: name-based, SHA-256
        bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the standard variant
        return UUID::fromBytes(bytes);
    }

  private:
    std::string text_;
};

UUID contentsUUID(const DZCrashReport& report) {
    Fingerprint print;
    if (const auto& system = report.systemInfo()) {
        print.add(static_cast<uint64_t>(system->operatingSystem()));
        print.add(system->operatingSystemVersion());
        print.add(system->operatingSystemBuild());
        print.add(static_cast<uint64_t>(system->architecture()));
        print.add(system->processorInfo());
        print.add(system->timestamp());
    }
    if (const auto& machine = report.machineInfo()) {
        print.add(machine->modelName());
        print.add(machine->processorInfo());
        print.add(machine->processorCount());
        print.add(machine->logicalProcessorCount());
    }
    if (const auto& application = report.applicationInfo()) {
        print.add(application->applicationIdentifier());
        print.add(application->applicationVersion());
        print.add(application->applicationMarketingVersion());
    }
    if (const auto& process = report.processInfo()) {
        print.add(process->processName());
        print.add(process->processID());
        print.add(process->processPath());
        print.add(process->processStartTime());
        print.add(process->parentProcessName());
        print.add(process->parentProcessID());
        print.add(uint64_t{process->native()});
    }
    if (const auto& signal = report.signalInfo()) {
        print.add(signal->name());
        print.add(signal->code());
        print.add(signal->address());
    }
    if (const auto& mach = report.machExceptionInfo()) {
        print.add(mach->type());
        for (uint64_t code : mach->codes()) print.add(code);
    }
    print.add(uint64_t{report.threads().size()});
    for (const auto& thread : report.threads()) {
        print.add(static_cast<uint64_t>(thread->threadNumber()));
        print.add(uint64_t{thread->crashed()});
        print.add(thread->stackFrames());
        print.add(uint64_t{thread->registers().size()});
        for (const auto& value : thread->registers()) {
            print.add(value->registerName());
            print.add(value->registerValue());
        }
    }
    print.add(uint64_t{report.images().size()});
    for (const auto& image : report.images()) {
        print.add(image->codeType());
        print.add(image->imageBaseAddress());
        print.add(image->imageSize());
        print.add(image->imageName());
        print.add(image->imageUUID());
    }
    if (const auto& exception = report.exceptionInfo()) {
        print.add(exception->exceptionName());
        print.add(exception->exceptionReason());
        if (exception->stackFrames()) print.add(*exception->stackFrames());
    }
    if (const auto& custom = report.customData()) {
        print.add(std::string_view(reinterpret_cast<const char*>(custom->data()), custom->size()));
    }
    return print.nameBasedUUID();
}

const std::optional<std::string>& nonEmpty(const std::optional<std::string>& text) {
    static const std::optional<std::string> absent;
    return text && !text->empty() ? text : absent;
}

std::optional<std::string> orHistory(const std::optional<std::string>& fromReport,
                                     const std::optional<std::string>& fromHistory) {
    return fromReport ? fromReport : fromHistory;
}

std::string lastPathComponent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> processPathOf(const DZCrashReport& report) {
    return report.processInfo() ? report.processInfo()->processPath() : std::nullopt;
}

// One loaded image's load commands, read only within the bounds its header declares.
class LoadedMachO {
  public:
    // nullopt unless `header` starts a Mach-O header in this process's byte order.
    static std::optional<LoadedMachO> at(const void* header) {
        uint32_t magic = 0;
        std::memcpy(&magic, header, sizeof magic);
        if (magic != MH_MAGIC && magic != MH_MAGIC_64) return std::nullopt;
        return LoadedMachO(static_cast<const uint8_t*>(header), magic == MH_MAGIC_64);
    }

    // The image's UUID as lower-case hex, as reports write it.
    std::optional<std::string> uuid() const {
        std::optional<std::string> found;
        forEachCommand([&](const uint8_t* command, uint32_t cmd, uint32_t size) {
            if (cmd != LC_UUID || size < sizeof(uuid_command)) return false;
            uuid_command record;
            std::memcpy(&record, command, sizeof record);
            std::string hex;
            for (uint8_t byte : record.uuid) hex += printed("%02x", byte);
            found = hex;
            return true;
        });
        return found;
    }

    // Unslid address and size of section `sectionName` in segment `segmentName`.
    std::optional<std::pair<uint64_t, uint64_t>> section(std::string_view segmentName,
                                                         std::string_view sectionName) const {
        return is64_ ? findSection<segment_command_64, section_64>(LC_SEGMENT_64, segmentName, sectionName)
                     : findSection<segment_command, struct section>(LC_SEGMENT, segmentName, sectionName);
    }

  private:
    LoadedMachO(const uint8_t* header, bool is64) : header_(header), is64_(is64) {}

    // Calls `visit(command, cmd, cmdsize)` for each whole command inside sizeofcmds until it answers true.
    template <class Visit>
    void forEachCommand(Visit visit) const {
        mach_header head;
        std::memcpy(&head, header_, sizeof head);
        const size_t begin = is64_ ? sizeof(mach_header_64) : sizeof(mach_header);
        const size_t end = begin + head.sizeofcmds;
        size_t offset = begin;
        for (uint32_t index = 0; index < head.ncmds && end - offset >= sizeof(load_command); ++index) {
            load_command command;
            std::memcpy(&command, header_ + offset, sizeof command);
            if (command.cmdsize < sizeof(load_command) || command.cmdsize > end - offset) return;
            if (visit(header_ + offset, command.cmd, command.cmdsize)) return;
            offset += command.cmdsize;
        }
    }

    static bool named(const char (&field)[16], std::string_view name) {
        return std::string_view(field, strnlen(field, sizeof field)) == name;
    }

    template <class Segment, class Section>
    std::optional<std::pair<uint64_t, uint64_t>> findSection(uint32_t segmentCommand,
                                                             std::string_view segmentName,
                                                             std::string_view sectionName) const {
        std::optional<std::pair<uint64_t, uint64_t>> found;
        forEachCommand([&](const uint8_t* command, uint32_t cmd, uint32_t size) {
            if (cmd != segmentCommand || size < sizeof(Segment)) return false;
            Segment segment;
            std::memcpy(&segment, command, sizeof segment);
            if (!named(segment.segname, segmentName)) return false;
            const uint64_t room = (size - sizeof(Segment)) / sizeof(Section);
            for (uint64_t index = 0; index < std::min<uint64_t>(segment.nsects, room); ++index) {
                Section record;
                std::memcpy(&record, command + sizeof(Segment) + index * sizeof(Section), sizeof record);
                if (named(record.sectname, sectionName)) {
                    found = std::make_pair(uint64_t{record.addr}, uint64_t{record.size});
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    const uint8_t* header_;
    bool is64_;
};

// The NUL-terminated text at `candidate`, when it lies in [start, end) and ends before `end`.
std::optional<std::string> textInSection(uint64_t candidate, uint64_t start, uint64_t end) {
    if (candidate < start || candidate >= end) return std::nullopt;
    const char* first = reinterpret_cast<const char*>(candidate);
    const void* nul = std::memchr(first + 1, '\0', end - candidate - 1);
    if (!nul) return std::nullopt;
    return std::string(first);
}

}  // namespace

std::shared_ptr<DIZAppleErrorLog> DIZErrorLogFormatter::errorLogFromCrashReport(const Report& report) {
    auto errorLog = std::make_shared<DIZAppleErrorLog>();
    errorLog->setErrorId(errorIdForCrashReport(report));
    addProcessInfoAndApplicationPathTo(*errorLog, report);

    const auto crashedThread = findCrashedThreadInReport(report);
    errorLog->setErrorThreadId(crashedThread ? crashedThread->threadNumber() : 0);
    errorLog->setFatal(true);
    errorLog->setAppLaunchTimestamp(getAppLaunchTimeFromReport(report));
    errorLog->setTimestamp(getCrashTimeFromReport(report));

    std::shared_ptr<DZCrashReportProcessorInfo> codeType =
        report.machineInfo() ? report.machineInfo()->processorInfo() : nullptr;
    for (const auto& image : report.images()) {
        const auto& imageCodeType = image->codeType();
        if (imageCodeType && imageCodeType->typeEncoding() == DZCrashReportProcessorTypeEncoding::Mach) {
            codeType = imageCodeType;
            break;
        }
    }
    const bool is64bit = codeType && isCodeType64bit(codeType->type());
    if (codeType) {
        errorLog->setPrimaryArchitectureId(static_cast<int64_t>(codeType->type()));
        errorLog->setArchitectureVariantId(static_cast<int64_t>(codeType->subtype()));
    }

    if (const auto& signal = report.signalInfo()) {
        errorLog->setOsExceptionType(signal->name());
        errorLog->setOsExceptionCode(signal->code());
        errorLog->setOsExceptionAddress(printed("0x%" PRIx64, signal->address()));
    }
    errorLog->setExceptionReason(extractExceptionReasonFromReport(report));
    if (report.hasExceptionInfo()) errorLog->setExceptionType(report.exceptionInfo()->exceptionName());
    errorLog->setSelectorRegisterValue(
        selectorRegisterValueFromReport(report, crashedThread.get(), codeType ? codeType->type() : 0));

    errorLog->setThreads(extractThreadsFromReport(report, crashedThread, is64bit));
    errorLog->setRegisters(extractRegistersFromCrashedThread(crashedThread.get(), is64bit));
    errorLog->setBinaries(extractBinaryImagesFromReport(report, is64bit));
    errorLog->setDevice(deviceForTimestamp(errorLog->timestamp(), report));
    // By the error id, which is the report's UUID when it has one: a report without one is paired
    // under the id derived for it, as the error report's incident id carries that id.
    if (const auto wrapper =
            DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString(*errorLog->errorId())) {
        errorLog->setException(wrapper->modelException());
    }
    return errorLog;
}

std::shared_ptr<DIZErrorReport> DIZErrorLogFormatter::errorReportFromCrashReport(const Report* report) {
    return report ? errorReportFromLog(*errorLogFromCrashReport(*report)) : nullptr;
}

std::shared_ptr<DIZErrorReport> DIZErrorLogFormatter::errorReportFromLog(const DIZAppleErrorLog& errorLog) {
    const auto& type = errorLog.primaryArchitectureId();
    const auto& subtype = errorLog.architectureVariantId();
    Text codeType = type ? convertCodeTypeToString(static_cast<uint64_t>(*type)) : kUnknown;
    Text archName = type && subtype ? convertArchNameToString(static_cast<uint64_t>(*type),
                                                              static_cast<uint64_t>(*subtype))
                                    : kUnknown;
    return std::make_shared<DIZErrorReport>(
        errorLog.errorId(), DIZDudIzizoz::installId().uuidString(), errorLog.osExceptionType(),
        errorLog.exceptionType(), errorLog.exceptionReason(), errorLog.appLaunchTimestamp(),
        errorLog.timestamp(), std::move(codeType), std::move(archName), errorLog.applicationPath(),
        errorLog.threads(), errorLog.binaries(), errorLog.device(),
        static_cast<uint64_t>(errorLog.processId().value_or(0)));
}

std::string DIZErrorLogFormatter::errorIdForCrashReport(const Report& report) {
    return (report.uuidRef() ? *report.uuidRef() : contentsUUID(report)).uuidString();
}

DIZAppleErrorLog& DIZErrorLogFormatter::addProcessInfoAndApplicationPathTo(DIZAppleErrorLog& errorLog,
                                                                           const Report& report) {
    errorLog.setProcessId(0);
    errorLog.setProcessName(kUnknown);
    errorLog.setParentProcessName(kUnknown);
    errorLog.setParentProcessId(std::nullopt);
    errorLog.setApplicationPath(kUnknown);
    if (const auto& process = report.processInfo()) {
        errorLog.setProcessId(static_cast<int64_t>(process->processID()));
        if (process->processName()) errorLog.setProcessName(process->processName());
        if (process->processPath())
            errorLog.setApplicationPath(anonymizedPathFromPath(*process->processPath()));
        if (process->parentProcessName()) errorLog.setParentProcessName(process->parentProcessName());
        errorLog.setParentProcessId(static_cast<int64_t>(process->parentProcessID()));
    }
    return errorLog;
}

std::shared_ptr<DZCrashReportThreadInfo> DIZErrorLogFormatter::findCrashedThreadInReport(
    const Report& report) {
    for (const auto& thread : report.threads()) {
        if (thread->crashed()) return thread;
    }
    return nullptr;
}

std::optional<Date> DIZErrorLogFormatter::getAppLaunchTimeFromReport(const Report& report) {
    if (report.hasProcessInfo()) return report.processInfo()->processStartTime();
    return report.systemInfo() ? report.systemInfo()->timestamp() : std::nullopt;
}

Date DIZErrorLogFormatter::getCrashTimeFromReport(const Report& report) {
    return crashTimeFromRecordedTime(report.systemInfo() ? report.systemInfo()->timestamp() : std::nullopt);
}

Date DIZErrorLogFormatter::crashTimeFromRecordedTime(const std::optional<Date>& recorded) {
    const Date crashTime = recorded.value_or(Date::fromUnix(0));
    const double seconds = crashTime.timeIntervalSince1970();
    // Report files keep whole seconds; placing the crash at the last millisecond of its second
    // orders it after the logs written earlier in that second.
    return seconds - std::trunc(seconds) == 0 ? crashTime.addingTimeInterval(0.999) : crashTime;
}

std::vector<std::shared_ptr<DIZThread>> DIZErrorLogFormatter::extractThreadsFromReport(
    const Report& report, const std::shared_ptr<DZCrashReportThreadInfo>& crashedThread, bool is64bit) {
    std::shared_ptr<DIZExceptionModel> exceptionModel;
    const auto& exception = report.exceptionInfo();
    if (exception && exception->stackFrames() && !exception->stackFrames()->empty()) {
        std::vector<std::shared_ptr<DIZStackFrame>> frames;
        for (const auto& frameInfo : *exception->stackFrames()) {
            auto frame = std::make_shared<DIZStackFrame>();
            frame->setAddress(formatAddress(frameInfo->instructionPointer(), is64bit));
            frames.push_back(std::move(frame));
        }
        exceptionModel = std::make_shared<DIZExceptionModel>();
        exceptionModel->setMessage(exception->exceptionReason());
        exceptionModel->setFrames(std::move(frames));
        const bool named = !exception->exceptionName().empty();
        exceptionModel->setType(named || !report.signalInfo() ? exception->exceptionName()
                                                              : report.signalInfo()->name());
    }

    std::vector<std::shared_ptr<DIZThread>> threads;
    for (const auto& threadInfo : report.threads()) {
        auto thread = std::make_shared<DIZThread>();
        thread->setThreadId(threadInfo->threadNumber());
        if (crashedThread && exceptionModel && crashedThread->threadNumber() == threadInfo->threadNumber()) {
            thread->setException(exceptionModel);
        }
        std::vector<std::shared_ptr<DIZStackFrame>> frames;
        for (const auto& frameInfo : threadInfo->stackFrames()) {
            auto frame = std::make_shared<DIZStackFrame>();
            frame->setAddress(formatAddress(frameInfo->instructionPointer(), is64bit));
            frame->setCode(formatStackFrame(*frameInfo, report));
            frames.push_back(std::move(frame));
        }
        thread->setFrames(std::move(frames));
        threads.push_back(std::move(thread));
    }
    return threads;
}

std::string DIZErrorLogFormatter::formatStackFrame(const DZCrashReportStackFrameInfo& frame,
                                                   const Report& report) {
    const uint64_t pc = frame.instructionPointer();
    const auto image = report.imageForAddress(pc);
    const uint64_t base = image ? image->imageBaseAddress() : 0;
    const uint64_t offset = image ? pc - base : 0;
    if (!image && pc != 0) DIZLogWarning(kLogTag, "Cannot find image for 0x%llx", printed("%" PRIx64, pc));

    const Text imagePath = image ? Text(image->imageName()) : std::nullopt;
    const auto& symbol = frame.symbolInfo();
    if (imageTypeForImagePath(imagePath, processPathOf(report)) == DIZBinaryImageType::other && symbol) {
        std::string name = symbol->symbolName();
        if (name.size() > 1 && name.front() == '_') {
            switch (report.systemInfo() ? report.systemInfo()->operatingSystem()
                                        : DZCrashReportOperatingSystem::Unknown) {
                case DZCrashReportOperatingSystem::MacOSX:
                case DZCrashReportOperatingSystem::iPhoneOS:
                case DZCrashReportOperatingSystem::iPhoneSimulator:
                case DZCrashReportOperatingSystem::AppleTVOS:
                    name.erase(0, 1);
                    break;
                case DZCrashReportOperatingSystem::Unknown:
                    DIZLogWarning(kLogTag, "Symbol \"%@\" prefix rules are unknown for this OS!", name);
                    break;
                default:
                    break;
            }
        }
        return name + printed(" + %lld", static_cast<long long>(pc - symbol->startAddress()));
    }
    return printed("0x%" PRIx64 " + %lld", base, static_cast<long long>(offset));
}

Dictionary DIZErrorLogFormatter::extractRegistersFromCrashedThread(
    const DZCrashReportThreadInfo* crashedThread, bool is64bit) {
    Dictionary registers;
    if (!crashedThread) return registers;
    for (const auto& value : crashedThread->registers()) {
        registers.set(value->registerName(), Value(formatAddress(value->registerValue(), is64bit)));
    }
    return registers;
}

DIZErrorLogFormatter::Text DIZErrorLogFormatter::extractExceptionReasonFromReport(const Report& report) {
    return report.hasExceptionInfo() ? Text(report.exceptionInfo()->exceptionReason()) : std::nullopt;
}

DIZErrorLogFormatter::Text DIZErrorLogFormatter::selectorRegisterValueFromReport(
    const Report& report, const DZCrashReportThreadInfo* crashedThread, uint64_t codeType) {
    if (!crashedThread) return std::nullopt;
    const auto first = [&](std::initializer_list<const char*> names) -> Text {
        for (const char* name : names) {
            if (auto selector = selectorForRegisterWithName(name, *crashedThread, report)) return selector;
        }
        return std::nullopt;
    };
    switch (codeType) {
        case kDIZCPUTypeX86:
            return first({"ecx"});
        case kDIZCPUTypeARM:
            return first({"r1", "r2"});
        case kDIZCPUTypeX86_64:
            return first({"rsi", "rdx"});
        case kDIZCPUTypeARM64:
            return first({"x1"});
        default:
            return std::nullopt;
    }
}

DIZErrorLogFormatter::Text DIZErrorLogFormatter::selectorForRegisterWithName(
    const std::string& registerName, const DZCrashReportThreadInfo& thread, const Report& report) {
    const auto& registers = thread.registers();
    const auto found = std::find_if(registers.begin(), registers.end(),
                                    [&](const auto& value) { return value->registerName() == registerName; });
    if (found == registers.end() || (*found)->registerValue() == 0) return std::nullopt;
    const uint64_t value = (*found)->registerValue();
    const auto image = report.imageForAddress(value);
    if (!image) return std::nullopt;

    // The selector's text lies in the running process's copy of the same binary, which is loaded
    // again when the report of the previous run is processed.
    for (uint32_t index = 0; index < _dyld_image_count(); ++index) {
        const void* header = _dyld_get_image_header(index);
        const char* name = _dyld_get_image_name(index);
        if (!header || !name || image->imageName() != name) continue;
        // Only a Mach-O header tells where its load commands end; any other image is not read.
        const auto loaded = LoadedMachO::at(header);
        if (!loaded) continue;
        const auto uuid = loaded->uuid();
        if (!uuid || uuid != image->imageUUID()) continue;

        const auto methodNames = loaded->section("__TEXT", "__objc_methname");
        if (!methodNames) return std::nullopt;
        const uint64_t start =
            methodNames->first + static_cast<uint64_t>(_dyld_get_image_vmaddr_slide(index));
        const uint64_t candidate = reinterpret_cast<uint64_t>(header) + (value - image->imageBaseAddress());
        return textInSection(candidate, start, start + methodNames->second);
    }
    return std::nullopt;
}

std::vector<std::shared_ptr<DIZBinary>> DIZErrorLogFormatter::extractBinaryImagesFromReport(
    const Report& report, bool is64bit) {
    const auto addresses = addressesFromReport(report);
    auto images = report.images();
    std::stable_sort(images.begin(), images.end(), [](const auto& a, const auto& b) {
        return a->imageBaseAddress() < b->imageBaseAddress();
    });
    const Text processPath = processPathOf(report);

    std::vector<std::shared_ptr<DIZBinary>> binaries;
    for (const auto& image : images) {
        const uint64_t start = image->imageBaseAddress();
        const uint64_t end = start + std::max<uint64_t>(image->imageSize(), 1) - 1;
        const auto& name = image->imageName();
        if (!isBinaryWithStart(start, end, addresses) &&
            imageTypeForImagePath(name, processPath) == DIZBinaryImageType::other) {
            continue;
        }
        auto binary = std::make_shared<DIZBinary>();
        binary->setBinaryId(image->imageUUID().value_or(kUnknown));
        binary->setStartAddress(formatAddress(start, is64bit));
        binary->setEndAddress(formatAddress(end, is64bit));
        binary->setPath(anonymizedPathFromPath(name));
        binary->setName(lastPathComponent(name));
        if (const auto& codeType = image->codeType()) {
            binary->setPrimaryArchitectureId(static_cast<int64_t>(codeType->type()));
            binary->setArchitectureVariantId(static_cast<int64_t>(codeType->subtype()));
        }
        binaries.push_back(std::move(binary));
    }
    return binaries;
}

std::vector<uint64_t> DIZErrorLogFormatter::addressesFromReport(const Report& report) {
    std::vector<uint64_t> addresses;
    if (report.hasExceptionInfo() && report.exceptionInfo()->stackFrames()) {
        for (const auto& frame : *report.exceptionInfo()->stackFrames()) {
            addresses.push_back(frame->instructionPointer());
        }
    }
    for (const auto& thread : report.threads()) {
        for (const auto& frame : thread->stackFrames()) addresses.push_back(frame->instructionPointer());
        for (const auto& value : thread->registers()) addresses.push_back(value->registerValue());
    }
    return addresses;
}

bool DIZErrorLogFormatter::isBinaryWithStart(uint64_t start, uint64_t end,
                                             const std::vector<uint64_t>& addresses) {
    return std::any_of(addresses.begin(), addresses.end(),
                       [&](uint64_t address) { return start <= address && address <= end; });
}

DIZBinaryImageType DIZErrorLogFormatter::imageTypeForImagePath(const Text& imagePath,
                                                               const Text& processPath) {
    if (!imagePath || !processPath) return DIZBinaryImageType::other;
    const std::string standard = lowercased(standardized(*imagePath));
    const std::string image = lowercased(*imagePath);
    const std::string process = lowercased(*processPath);
    if (standard.find(".app/") == std::string::npos ||
        (standard.find("frameworks/libswift") != std::string::npos && endsWith(standard, ".dylib"))) {
        return DIZBinaryImageType::other;
    }
    if (standard == process || image.starts_with(process)) return DIZBinaryImageType::appBinary;
    return DIZBinaryImageType::appFramework;
}

std::string DIZErrorLogFormatter::anonymizedPathFromPath(const std::string& path) {
    if (path.starts_with("/Users/")) return withoutUserNames(path, "/Users/");
    if (path.starts_with("/home/")) return withoutUserNames(path, "/home/");
    if (path.find("Users") != std::string::npos) return "";
    return path;
}

std::shared_ptr<DIZDevice> DIZErrorLogFormatter::deviceForTimestamp(const std::optional<Date>& timestamp,
                                                                    const Report& report) {
    auto history = DIZDeviceTracker::sharedInstance()->deviceForTimestamp(timestamp);
    if (!history) history = std::make_shared<DIZDevice>();
    const auto& system = report.systemInfo();
    const auto& machine = report.machineInfo();
    const auto& application = report.applicationInfo();

    auto device = std::make_shared<DIZDevice>();
    device->setOsVersion(
        orHistory(system ? Text(system->operatingSystemVersion()) : std::nullopt, history->osVersion()));
    device->setOsBuild(orHistory(system ? system->operatingSystemBuild() : std::nullopt, history->osBuild()));
    device->setModel(orHistory(machine ? machine->modelName() : std::nullopt, history->model()));
    device->setAppBuild(
        orHistory(application ? Text(application->applicationVersion()) : std::nullopt, history->appBuild()));
    // The writer stores a missing marketing version as "", which says no more than its absence.
    device->setAppVersion(
        orHistory(application ? nonEmpty(application->applicationMarketingVersion()) : std::nullopt,
                  history->appVersion()));
    device->setAppNamespace(orHistory(application ? Text(application->applicationIdentifier()) : std::nullopt,
                                      history->appNamespace()));

    device->setSdkName(history->sdkName());
    device->setSdkVersion(history->sdkVersion());
    device->setOemName(history->oemName());
    device->setOsName(history->osName());
    device->setOsApiLevel(history->osApiLevel());
    device->setLocale(history->locale());
    device->setTimeZoneOffset(history->timeZoneOffset());
    device->setScreenSize(history->screenSize());
    device->setCarrierName(history->carrierName());
    device->setCarrierCountry(history->carrierCountry());
    device->setWrapperSdkName(history->wrapperSdkName());
    device->setWrapperSdkVersion(history->wrapperSdkVersion());
    device->setWrapperRuntimeVersion(history->wrapperRuntimeVersion());
    device->setLiveUpdatePackageHash(history->liveUpdatePackageHash());
    device->setLiveUpdateReleaseLabel(history->liveUpdateReleaseLabel());
    device->setLiveUpdateDeploymentKey(history->liveUpdateDeploymentKey());
    return device;
}

std::string DIZErrorLogFormatter::convertCodeTypeToString(uint64_t cpuType) {
    switch (cpuType) {
        case kDIZCPUTypeX86:
            return "X86";
        case kDIZCPUTypeARM:
            return "ARM";
        case kDIZCPUTypePowerPC:
            return "PPC";
        case kDIZCPUTypeX86_64:
            return "X86-64";
        case kDIZCPUTypeARM64:
            return "ARM-64";
        default:
            return printed("Unknown (%" PRIu64 ")", cpuType);
    }
}

std::string DIZErrorLogFormatter::convertArchNameToString(uint64_t cpuType, uint64_t cpuSubtype) {
    // The high byte holds capability bits, which say nothing about the architecture.
    const uint64_t subtype = cpuSubtype & 0x00FFFFFF;
    switch (cpuType) {
        case kDIZCPUTypeX86:
            return "i386";
        case kDIZCPUTypeARM:
            return subtype == 6 ? "armv6" : subtype == 9 ? "armv7" : subtype == 11 ? "armv7s" : "arm-unknown";
        case kDIZCPUTypePowerPC:
            return "powerpc";
        case kDIZCPUTypeX86_64:
            return "x86_64";
        case kDIZCPUTypeARM64:
            return subtype == 0   ? "arm64"
                   : subtype == 1 ? "armv8"
                   : subtype == 2 ? "arm64e"
                                  : "arm64-unknown";
        default:
            return kUnknown;
    }
}

bool DIZErrorLogFormatter::isCodeType64bit(uint64_t cpuType) {
    return cpuType == kDIZCPUTypeX86_64 || cpuType == kDIZCPUTypeARM64;
}

DIZErrorLogFormatter::Text DIZErrorLogFormatter::uuidRefToString(const std::optional<UUID>& uuid) {
    return uuid ? Text(uuid->uuidString()) : std::nullopt;
}

std::string DIZErrorLogFormatter::formatAddress(uint64_t address, bool is64bit) {
    return printed("0x%0*" PRIx64, is64bit ? 16 : 8, address);
}
