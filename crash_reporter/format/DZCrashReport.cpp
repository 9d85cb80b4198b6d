#include "crash_reporter/format/DZCrashReport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "crash_reporter/async/dzcrash_error.h"
#include "crash_reporter/dzcrash.pb-c.h"
#include "crash_reporter/format/dzcrash_report_file.h"

namespace {

using ProcessorInfo = std::shared_ptr<DZCrashReportProcessorInfo>;
using StackFrames = std::vector<std::shared_ptr<DZCrashReportStackFrameInfo>>;

struct UnpackedReportDeleter {
    void operator()(Dzcrash__CrashReport* report) const {
        dzcrash__crash_report__free_unpacked(report, nullptr);
    }
};
using UnpackedReport = std::unique_ptr<Dzcrash__CrashReport, UnpackedReportDeleter>;

// Mach CPU type of 64-bit ARM, and the subtype whose reports carry pointer authentication bits
// above the 36 bits of address in each pc.
constexpr uint64_t kCPUTypeARM64 = 0x100000C;
constexpr uint64_t kCPUSubtypeARM64E = 2;
constexpr uint64_t kARM64EAddressMask = 0xFFFFFFFFF;

// The Mach CPU type and subtype of each architecture, for reports that name no processor.
struct ArchitectureProcessor {
    Dzcrash__Architecture architecture;
    uint64_t type;
    uint64_t subtype;
};
constexpr ArchitectureProcessor kArchitectureProcessors[] = {
    {DZCRASH__ARCHITECTURE__X86_32, 7, 3},        {DZCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
    {DZCRASH__ARCHITECTURE__ARMV6, 12, 6},        {DZCRASH__ARCHITECTURE__PPC, 18, 0},
    {DZCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {DZCRASH__ARCHITECTURE__ARMV7, 12, 9},
};

constexpr size_t kMaxMachExceptionCodes = 256;
constexpr size_t kReportUUIDSize = 16;

// Every decoding failure is an invalid report, described by a fixed text.
std::nullptr_t fail(Error* error, const std::string& description) {
    dzcrash_make_error(error, DZCrashReporterErrorCrashReportInvalid, description);
    return nullptr;
}

std::optional<std::string> optionalString(const char* string) {
    if (!string) return std::nullopt;
    return std::string(string);
}

UnpackedReport decodeCrashData(const Data& data, Error* error) {
    if (data.size() <= kDZCrashReportFileHeaderSize) {
        return fail(error, "Could not decode truncated crash log");
    }
    if (std::memcmp(data.data(), kDZCrashReportFileMagic, sizeof(kDZCrashReportFileMagic)) != 0) {
        return fail(error, "Could not decode invalid crash log header");
    }
    uint8_t version = data[sizeof(kDZCrashReportFileMagic)];
    if (version != kDZCrashReportFileVersion) {
        return fail(error, "Could not decode unsupported crash report version: " + std::to_string(version));
    }
    UnpackedReport report(dzcrash__crash_report__unpack(nullptr, data.size() - kDZCrashReportFileHeaderSize,
                                                        data.data() + kDZCrashReportFileHeaderSize));
    if (!report) return fail(error, "An unknown error occured decoding the crash report");
    return report;
}

ProcessorInfo extractProcessorInfo(const Dzcrash__CrashReport__Processor* processor, Error* error) {
    if (!processor) return fail(error, "Crash report is missing processor info section");
    return std::make_shared<DZCrashReportProcessorInfo>(
        static_cast<DZCrashReportProcessorTypeEncoding>(processor->encoding), processor->type,
        processor->subtype);
}

ProcessorInfo synthesizeProcessorInfoFromArchitecture(Dzcrash__Architecture architecture, Error* error) {
    for (const ArchitectureProcessor& known : kArchitectureProcessors) {
        if (known.architecture == architecture) {
            return std::make_shared<DZCrashReportProcessorInfo>(DZCrashReportProcessorTypeEncoding::Mach,
                                                                known.type, known.subtype);
        }
    }
    return fail(error, "Crash report has an unknown architecture");
}

std::shared_ptr<DZCrashReportSystemInfo> extractSystemInfo(const Dzcrash__CrashReport__SystemInfo* systemInfo,
                                                           ProcessorInfo processorInfo, Error* error) {
    if (!systemInfo) return fail(error, "Crash report is missing System Information section");
    if (!systemInfo->os_version) {
        return fail(error, "Crash report is missing System Information OS version field");
    }
    if (!processorInfo) {
        processorInfo = synthesizeProcessorInfoFromArchitecture(systemInfo->architecture, error);
        if (!processorInfo) return nullptr;
    }
    std::optional<Date> timestamp;
    if (systemInfo->timestamp != 0) timestamp = Date::fromUnix(static_cast<double>(systemInfo->timestamp));
    return std::make_shared<DZCrashReportSystemInfo>(
        static_cast<DZCrashReportOperatingSystem>(systemInfo->operating_system), systemInfo->os_version,
        optionalString(systemInfo->os_build),
        static_cast<DZCrashReportArchitecture>(systemInfo->architecture), std::move(processorInfo),
        timestamp);
}

std::shared_ptr<DZCrashReportMachineInfo> extractMachineInfo(
    const Dzcrash__CrashReport__MachineInfo* machineInfo, Error* error) {
    if (!machineInfo) return fail(error, "Crash report is missing Machine Information section");
    ProcessorInfo processorInfo;
    if (machineInfo->processor) {
        processorInfo = extractProcessorInfo(machineInfo->processor, error);
        if (!processorInfo) return nullptr;
    }
    return std::make_shared<DZCrashReportMachineInfo>(optionalString(machineInfo->model),
                                                      std::move(processorInfo), machineInfo->processor_count,
                                                      machineInfo->logical_processor_count);
}

std::shared_ptr<DZCrashReportApplicationInfo> extractApplicationInfo(
    const Dzcrash__CrashReport__ApplicationInfo* applicationInfo, Error* error) {
    if (!applicationInfo) return fail(error, "Crash report is missing Application Information section");
    if (!applicationInfo->identifier) {
        return fail(error, "Crash report is missing Application Information app identifier field");
    }
    if (!applicationInfo->version) {
        return fail(error, "Crash report is missing Application Information app version field");
    }
    return std::make_shared<DZCrashReportApplicationInfo>(applicationInfo->identifier,
                                                          applicationInfo->version,
                                                          optionalString(applicationInfo->marketing_version));
}

std::shared_ptr<DZCrashReportProcessInfo> extractProcessInfo(
    const Dzcrash__CrashReport__ProcessInfo* processInfo, Error* error) {
    if (!processInfo) return fail(error, "Crash report is missing Process Information section");
    std::optional<Date> startTime;
    if (processInfo->has_start_time) startTime = Date::fromUnix(static_cast<double>(processInfo->start_time));
    // The writer stores the path with its terminating NUL. Unpacked strings end at their first NUL,
    // so the path arrives without it and equals the same image's path.
    return std::make_shared<DZCrashReportProcessInfo>(optionalString(processInfo->process_name),
                                                      processInfo->process_id,
                                                      optionalString(processInfo->process_path), startTime,
                                                      optionalString(processInfo->parent_process_name),
                                                      processInfo->parent_process_id, processInfo->native);
}

std::shared_ptr<DZCrashReportSymbolInfo> extractSymbolInfo(const Dzcrash__CrashReport__Symbol* symbol,
                                                           Error* error) {
    if (!symbol || !symbol->name) return fail(error, "Crash report is missing symbol information");
    return std::make_shared<DZCrashReportSymbolInfo>(symbol->name, symbol->start_address,
                                                     symbol->has_end_address ? symbol->end_address : 0);
}

std::shared_ptr<DZCrashReportStackFrameInfo> extractStackFrameInfo(
    const Dzcrash__CrashReport__Thread__StackFrame* frame, bool cutPCToAddressBits, Error* error) {
    if (!frame) return fail(error, "Crash report is missing stack frame information");
    std::shared_ptr<DZCrashReportSymbolInfo> symbolInfo;
    if (frame->symbol) {
        symbolInfo = extractSymbolInfo(frame->symbol, error);
        if (!symbolInfo) return nullptr;
    }
    uint64_t pc = cutPCToAddressBits ? frame->pc & kARM64EAddressMask : frame->pc;
    return std::make_shared<DZCrashReportStackFrameInfo>(pc, std::move(symbolInfo));
}

bool extractStackFrames(Dzcrash__CrashReport__Thread__StackFrame* const* frames, size_t count,
                        bool cutPCToAddressBits, StackFrames* out, Error* error) {
    out->reserve(count);
    for (size_t i = 0; i < count; i++) {
        auto frame = extractStackFrameInfo(frames[i], cutPCToAddressBits, error);
        if (!frame) return false;
        out->push_back(std::move(frame));
    }
    return true;
}

std::shared_ptr<DZCrashReportThreadInfo> extractThreadInfo(const Dzcrash__CrashReport__Thread* thread,
                                                           bool cutPCToAddressBits, Error* error) {
    StackFrames frames;
    if (!extractStackFrames(thread->frames, thread->n_frames, cutPCToAddressBits, &frames, error)) {
        return nullptr;
    }
    std::vector<std::shared_ptr<DZCrashReportRegisterInfo>> registers;
    registers.reserve(thread->n_registers);
    for (size_t i = 0; i < thread->n_registers; i++) {
        const Dzcrash__CrashReport__Thread__RegisterValue* value = thread->registers[i];
        if (!value->name) return fail(error, "Missing register name in register value");
        registers.push_back(std::make_shared<DZCrashReportRegisterInfo>(value->name, value->value));
    }
    return std::make_shared<DZCrashReportThreadInfo>(thread->thread_number, std::move(frames),
                                                     thread->crashed, std::move(registers));
}

std::shared_ptr<DZCrashReportBinaryImageInfo> extractImageInfo(const Dzcrash__CrashReport__BinaryImage* image,
                                                               Error* error) {
    if (!image->name) return fail(error, "Missing image name in image record");
    std::optional<Data> uuid;
    if (image->has_uuid && image->uuid.len > 0) {
        uuid = Data(image->uuid.data, image->uuid.data + image->uuid.len);
    }
    ProcessorInfo codeType;
    if (image->code_type) {
        codeType = extractProcessorInfo(image->code_type, error);
        if (!codeType) return nullptr;
    }
    return std::make_shared<DZCrashReportBinaryImageInfo>(std::move(codeType), image->base_address,
                                                          image->size, image->name, uuid);
}

std::shared_ptr<DZCrashReportExceptionInfo> extractExceptionInfo(
    const Dzcrash__CrashReport__Exception* exception, bool cutPCToAddressBits, Error* error) {
    if (!exception) return fail(error, "Crash report is missing Exception Information section");
    if (!exception->name) return fail(error, "Crash report is missing exception name field");
    if (!exception->reason) return fail(error, "Crash report is missing exception reason field");
    std::optional<StackFrames> frames;
    if (exception->n_frames > 0) {
        frames.emplace();
        if (!extractStackFrames(exception->frames, exception->n_frames, cutPCToAddressBits, &*frames,
                                error)) {
            return nullptr;
        }
    }
    return std::make_shared<DZCrashReportExceptionInfo>(exception->name, exception->reason,
                                                        std::move(frames));
}

std::shared_ptr<DZCrashReportSignalInfo> extractSignalInfo(const Dzcrash__CrashReport__Signal* signal,
                                                           Error* error) {
    if (!signal) return fail(error, "Crash report is missing Signal Information section");
    if (!signal->name) return fail(error, "Crash report is missing signal name field");
    if (!signal->code) return fail(error, "Crash report is missing signal code field");
    return std::make_shared<DZCrashReportSignalInfo>(signal->name, signal->code, signal->address);
}

std::shared_ptr<DZCrashReportMachExceptionInfo> extractMachExceptionInfo(
    const Dzcrash__CrashReport__Signal__MachException* exception, Error* error) {
    if (!exception) return fail(error, "Crash report is missing Mach Exception Information section");
    if (exception->n_codes >= kMaxMachExceptionCodes) {
        return fail(error, "Crash report includes too many Mach Exception codes");
    }
    return std::make_shared<DZCrashReportMachExceptionInfo>(
        exception->type, std::vector<uint64_t>(exception->codes, exception->codes + exception->n_codes));
}

bool reportCutsPCToAddressBits(const Dzcrash__CrashReport* report) {
    const Dzcrash__CrashReport__Processor* processor =
        report->machine_info ? report->machine_info->processor : nullptr;
    return processor && processor->type == kCPUTypeARM64 && processor->subtype == kCPUSubtypeARM64E;
}

}  // namespace

std::shared_ptr<DZCrashReport> DZCrashReport::initWithData(const Data& data, Error* error) {
    UnpackedReport unpacked = decodeCrashData(data, error);
    if (!unpacked) return nullptr;
    const Dzcrash__CrashReport* message = unpacked.get();
    std::shared_ptr<DZCrashReport> report(new DZCrashReport());

    if (message->report_info && message->report_info->has_uuid) {
        const ProtobufCBinaryData& uuid = message->report_info->uuid;
        if (uuid.len != kReportUUIDSize) return fail(error, "Report UUID value is not a standard 16 bytes");
        std::array<uint8_t, kReportUUIDSize> bytes;
        std::copy(uuid.data, uuid.data + uuid.len, bytes.begin());
        report->uuidRef_ = UUID::fromBytes(bytes);
    }

    ProcessorInfo machineProcessor;
    if (message->machine_info) {
        report->machineInfo_ = extractMachineInfo(message->machine_info, error);
        if (!report->machineInfo_) return nullptr;
        machineProcessor = report->machineInfo_->processorInfo();
    }
    report->systemInfo_ = extractSystemInfo(message->system_info, machineProcessor, error);
    if (!report->systemInfo_) return nullptr;
    report->applicationInfo_ = extractApplicationInfo(message->application_info, error);
    if (!report->applicationInfo_) return nullptr;
    if (message->process_info) {
        report->processInfo_ = extractProcessInfo(message->process_info, error);
        if (!report->processInfo_) return nullptr;
    }

    report->signalInfo_ = extractSignalInfo(message->signal, error);
    if (!report->signalInfo_) return nullptr;
    if (message->signal->mach_exception) {
        report->machExceptionInfo_ = extractMachExceptionInfo(message->signal->mach_exception, error);
        if (!report->machExceptionInfo_) return nullptr;
    }

    bool cutPCToAddressBits = reportCutsPCToAddressBits(message);
    if (message->n_threads == 0) return fail(error, "Crash report is missing thread state information");
    for (size_t i = 0; i < message->n_threads; i++) {
        auto thread = extractThreadInfo(message->threads[i], cutPCToAddressBits, error);
        if (!thread) return nullptr;
        report->threads_.push_back(std::move(thread));
    }
    if (message->n_binary_images == 0) return fail(error, "Crash report is missing binary image information");
    for (size_t i = 0; i < message->n_binary_images; i++) {
        auto image = extractImageInfo(message->binary_images[i], error);
        if (!image) return nullptr;
        report->images_.push_back(std::move(image));
    }

    if (message->exception) {
        report->exceptionInfo_ = extractExceptionInfo(message->exception, cutPCToAddressBits, error);
        if (!report->exceptionInfo_) return nullptr;
    }
    if (message->has_custom_data) {
        report->customData_ =
            Data(message->custom_data.data, message->custom_data.data + message->custom_data.len);
    }
    return report;
}

std::shared_ptr<DZCrashReportBinaryImageInfo> DZCrashReport::imageForAddress(uint64_t address) const {
    for (const auto& image : images_) {
        // Compared as an offset, so an image that ends at the top of the address space still counts.
        if (address >= image->imageBaseAddress() &&
            address - image->imageBaseAddress() < image->imageSize()) {
            return image;
        }
    }
    return nullptr;
}
