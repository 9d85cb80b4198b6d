#pragma once
// Report files made with the generated message code, for tests that decode or print reports. A
// builder starts as a small complete report (two threads, one image, every optional section but
// the exception and the custom data); a test changes the message through report() and the
// helpers, then takes the file's bytes. Everything the message points at lives in the builder.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crash_reporter/dzcrash.pb-c.h"
#include "crash_reporter/format/dzcrash_report_file.h"
#include "platform/foundation/Data.h"

class CrashReportBuilder {
  public:
    using Report = Dzcrash__CrashReport;
    using Frame = Dzcrash__CrashReport__Thread__StackFrame;
    using Thread = Dzcrash__CrashReport__Thread;
    using Image = Dzcrash__CrashReport__BinaryImage;
    using Processor = Dzcrash__CrashReport__Processor;
    using Registers = std::vector<std::pair<std::string, uint64_t>>;

    static constexpr uint64_t kImageBase = 0x100000000;
    static constexpr uint64_t kImageSize = 0x20000;

    CrashReportBuilder() {
        auto* reportInfo = make<Dzcrash__CrashReport__ReportInfo>(DZCRASH__CRASH_REPORT__REPORT_INFO__INIT);
        reportInfo->has_uuid = true;
        reportInfo->uuid = bytes(Data{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                                      0xAC, 0xAD, 0xAE, 0xAF});
        report_.report_info = reportInfo;

        auto* systemInfo = make<Dzcrash__CrashReport__SystemInfo>(DZCRASH__CRASH_REPORT__SYSTEM_INFO__INIT);
        systemInfo->has_operating_system = true;
        systemInfo->operating_system = DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X;
        systemInfo->os_version = string("10.15.7");
        systemInfo->os_build = string("19H2");
        systemInfo->architecture = DZCRASH__ARCHITECTURE__X86_64;
        systemInfo->timestamp = 1700000000;
        report_.system_info = systemInfo;

        auto* machineInfo =
            make<Dzcrash__CrashReport__MachineInfo>(DZCRASH__CRASH_REPORT__MACHINE_INFO__INIT);
        machineInfo->model = string("TestMachine1,1");
        machineInfo->processor = processor(0x1000007, 3);
        machineInfo->processor_count = 8;
        machineInfo->logical_processor_count = 16;
        report_.machine_info = machineInfo;

        auto* applicationInfo =
            make<Dzcrash__CrashReport__ApplicationInfo>(DZCRASH__CRASH_REPORT__APPLICATION_INFO__INIT);
        applicationInfo->identifier = string("com.example.crasher");
        applicationInfo->version = string("42");
        applicationInfo->marketing_version = string("1.2.3");
        report_.application_info = applicationInfo;

        auto* processInfo =
            make<Dzcrash__CrashReport__ProcessInfo>(DZCRASH__CRASH_REPORT__PROCESS_INFO__INIT);
        processInfo->process_name = string("crasher");
        processInfo->process_id = 4242;
        processInfo->process_path = string("/opt/crasher/bin/crasher");
        processInfo->parent_process_name = string("init");
        processInfo->parent_process_id = 1;
        processInfo->native = true;
        processInfo->has_start_time = true;
        processInfo->start_time = 1699999000;
        report_.process_info = processInfo;

        setThreads(
            {thread(0, true,
                    {frame(kImageBase + 0x1234, "main", kImageBase + 0x1200), frame(kImageBase + 0x80)},
                    {{"rip", kImageBase + 0x1234}, {"rsp", 0x7ffee000}}),
             thread(1, false, {frame(kImageBase + 0x400)})});
        setImages({image(kImageBase, kImageSize, "/opt/crasher/bin/crasher",
                         Data{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                              0xDD, 0xEE, 0xFF})});

        auto* signal = make<Dzcrash__CrashReport__Signal>(DZCRASH__CRASH_REPORT__SIGNAL__INIT);
        signal->name = string("SIGSEGV");
        signal->code = string("SEGV_MAPERR");
        signal->address = 0x10;
        report_.signal = signal;
    }
    CrashReportBuilder(const CrashReportBuilder&) = delete;
    CrashReportBuilder& operator=(const CrashReportBuilder&) = delete;

    Report& report() { return report_; }

    // The whole file: header, then the packed message.
    Data fileData() const {
        Data file(kDZCrashReportFileMagic, kDZCrashReportFileMagic + sizeof(kDZCrashReportFileMagic));
        file.push_back(kDZCrashReportFileVersion);
        Data packed = body();
        file.insert(file.end(), packed.begin(), packed.end());
        return file;
    }
    Data body() const {
        Data packed(dzcrash__crash_report__get_packed_size(&report_));
        dzcrash__crash_report__pack(&report_, packed.data());
        return packed;
    }

    // A message of type T, starting from `initial` (the generated ..._INIT value), owned here.
    template <class T>
    T* make(T initial) {
        return keep(std::move(initial));
    }
    char* string(std::string_view text) { return keep(std::string(text))->data(); }
    ProtobufCBinaryData bytes(const Data& data) {
        Data* copy = keep(data);
        return ProtobufCBinaryData{copy->size(), copy->data()};
    }
    uint64_t* values(std::vector<uint64_t> values) { return keep(std::move(values))->data(); }
    template <class T>
    T** array(std::vector<T*> items) {
        return keep(std::move(items))->data();
    }

    Processor* processor(uint64_t type, uint64_t subtype) {
        auto* processor = make<Processor>(DZCRASH__CRASH_REPORT__PROCESSOR__INIT);
        processor->has_encoding = true;
        processor->encoding = DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        processor->type = type;
        processor->subtype = subtype;
        return processor;
    }
    Frame* frame(uint64_t pc, const char* symbolName = nullptr, uint64_t symbolStart = 0) {
        auto* frame = make<Frame>(DZCRASH__CRASH_REPORT__THREAD__STACK_FRAME__INIT);
        frame->pc = pc;
        if (symbolName) {
            auto* symbol = make<Dzcrash__CrashReport__Symbol>(DZCRASH__CRASH_REPORT__SYMBOL__INIT);
            symbol->name = string(symbolName);
            symbol->start_address = symbolStart;
            frame->symbol = symbol;
        }
        return frame;
    }
    Thread* thread(uint32_t number, bool crashed, std::vector<Frame*> frames,
                   const Registers& registers = {}) {
        auto* thread = make<Thread>(DZCRASH__CRASH_REPORT__THREAD__INIT);
        thread->thread_number = number;
        thread->crashed = crashed;
        thread->n_frames = frames.size();
        thread->frames = array(std::move(frames));
        std::vector<Dzcrash__CrashReport__Thread__RegisterValue*> values;
        for (const auto& [name, value] : registers) {
            auto* registerValue = make<Dzcrash__CrashReport__Thread__RegisterValue>(
                DZCRASH__CRASH_REPORT__THREAD__REGISTER_VALUE__INIT);
            registerValue->name = string(name);
            registerValue->value = value;
            values.push_back(registerValue);
        }
        thread->n_registers = values.size();
        thread->registers = array(std::move(values));
        return thread;
    }
    Image* image(uint64_t base, uint64_t size, std::string_view name,
                 std::optional<Data> uuid = std::nullopt) {
        auto* image = make<Image>(DZCRASH__CRASH_REPORT__BINARY_IMAGE__INIT);
        image->base_address = base;
        image->size = size;
        image->name = string(name);
        if (uuid) {
            image->has_uuid = true;
            image->uuid = bytes(*uuid);
        }
        image->code_type = processor(0x1000007, 3);
        return image;
    }

    void setThreads(std::vector<Thread*> threads) {
        report_.n_threads = threads.size();
        report_.threads = array(std::move(threads));
    }
    void setImages(std::vector<Image*> images) {
        report_.n_binary_images = images.size();
        report_.binary_images = array(std::move(images));
    }
    void setException(std::string_view name, std::string_view reason, std::vector<Frame*> frames = {}) {
        auto* exception = make<Dzcrash__CrashReport__Exception>(DZCRASH__CRASH_REPORT__EXCEPTION__INIT);
        exception->name = string(name);
        exception->reason = string(reason);
        exception->n_frames = frames.size();
        exception->frames = array(std::move(frames));
        report_.exception = exception;
    }
    void setMachException(uint64_t type, std::vector<uint64_t> codes) {
        auto* exception = make<Dzcrash__CrashReport__Signal__MachException>(
            DZCRASH__CRASH_REPORT__SIGNAL__MACH_EXCEPTION__INIT);
        exception->type = type;
        exception->n_codes = codes.size();
        exception->codes = values(std::move(codes));
        report_.signal->mach_exception = exception;
    }

  private:
    template <class T>
    T* keep(T value) {
        auto owned = std::make_shared<T>(std::move(value));
        kept_.push_back(owned);
        return owned.get();
    }

    Report report_ = DZCRASH__CRASH_REPORT__INIT;
    std::vector<std::shared_ptr<void>> kept_;
};
