#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "crash_reporter/async/dzcrash_error.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"

namespace {

std::shared_ptr<DZCrashReport> decode(const CrashReportBuilder& builder) {
    Error error;
    auto report = DZCrashReport::initWithData(builder.fileData(), &error);
    EXPECT_NE(report, nullptr) << error.description;
    return report;
}

}  // namespace

TEST(DZCrashReport, DecodesEverySection) {
    CrashReportBuilder builder;
    builder.setMachException(1, {2, 3});
    builder.setException("RangeError", "index 3 beyond bounds", {builder.frame(0x100000010)});
    builder.report().has_custom_data = true;
    builder.report().custom_data = builder.bytes(dataFromString("custom"));
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);

    const auto& system = *report->systemInfo();
    EXPECT_EQ(system.operatingSystem(), DZCrashReportOperatingSystem::MacOSX);
    EXPECT_EQ(system.operatingSystemVersion(), "10.15.7");
    EXPECT_EQ(system.operatingSystemBuild(), std::optional<std::string>("19H2"));
    EXPECT_EQ(system.architecture(), DZCrashReportArchitecture::X86_64);
    EXPECT_EQ(system.timestamp(), Date::fromUnix(1700000000));
    EXPECT_EQ(system.processorInfo(), report->machineInfo()->processorInfo())
        << "the machine's processor is reused";

    ASSERT_TRUE(report->hasMachineInfo());
    EXPECT_EQ(report->machineInfo()->modelName(), std::optional<std::string>("TestMachine1,1"));
    EXPECT_EQ(report->machineInfo()->processorInfo()->typeEncoding(),
              DZCrashReportProcessorTypeEncoding::Mach);
    EXPECT_EQ(report->machineInfo()->processorCount(), 8u);
    EXPECT_EQ(report->machineInfo()->logicalProcessorCount(), 16u);

    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), "com.example.crasher");
    EXPECT_EQ(report->applicationInfo()->applicationVersion(), "42");
    EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), std::optional<std::string>("1.2.3"));

    ASSERT_TRUE(report->hasProcessInfo());
    const auto& process = *report->processInfo();
    EXPECT_EQ(process.processName(), std::optional<std::string>("crasher"));
    EXPECT_EQ(process.processID(), 4242u);
    EXPECT_EQ(process.processPath(), std::optional<std::string>("/opt/crasher/bin/crasher"));
    EXPECT_EQ(process.processStartTime(), Date::fromUnix(1699999000));
    EXPECT_EQ(process.parentProcessName(), std::optional<std::string>("init"));
    EXPECT_EQ(process.parentProcessID(), 1u);
    EXPECT_TRUE(process.native());

    ASSERT_EQ(report->threads().size(), 2u);
    const auto& crashed = *report->threads()[0];
    EXPECT_EQ(crashed.threadNumber(), 0);
    EXPECT_TRUE(crashed.crashed());
    ASSERT_EQ(crashed.stackFrames().size(), 2u);
    EXPECT_EQ(crashed.stackFrames()[0]->instructionPointer(), CrashReportBuilder::kImageBase + 0x1234);
    ASSERT_NE(crashed.stackFrames()[0]->symbolInfo(), nullptr);
    EXPECT_EQ(crashed.stackFrames()[0]->symbolInfo()->symbolName(), "main");
    EXPECT_EQ(crashed.stackFrames()[0]->symbolInfo()->startAddress(),
              CrashReportBuilder::kImageBase + 0x1200);
    EXPECT_EQ(crashed.stackFrames()[0]->symbolInfo()->endAddress(), 0u);
    EXPECT_EQ(crashed.stackFrames()[1]->symbolInfo(), nullptr);
    ASSERT_EQ(crashed.registers().size(), 2u);
    EXPECT_EQ(crashed.registers()[1]->registerName(), "rsp");
    EXPECT_EQ(crashed.registers()[1]->registerValue(), 0x7ffee000u);
    EXPECT_FALSE(report->threads()[1]->crashed());
    EXPECT_TRUE(report->threads()[1]->registers().empty());

    ASSERT_EQ(report->images().size(), 1u);
    const auto& image = *report->images()[0];
    EXPECT_EQ(image.imageBaseAddress(), CrashReportBuilder::kImageBase);
    EXPECT_EQ(image.imageSize(), CrashReportBuilder::kImageSize);
    EXPECT_EQ(image.imageName(), "/opt/crasher/bin/crasher");
    EXPECT_TRUE(image.hasImageUUID());
    EXPECT_EQ(image.imageUUID(), std::optional<std::string>("00112233445566778899aabbccddeeff"));
    ASSERT_NE(image.codeType(), nullptr);
    EXPECT_EQ(image.codeType()->subtype(), 3u);

    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_EQ(report->signalInfo()->code(), "SEGV_MAPERR");
    EXPECT_EQ(report->signalInfo()->address(), 0x10u);
    ASSERT_NE(report->machExceptionInfo(), nullptr);
    EXPECT_EQ(report->machExceptionInfo()->type(), 1u);
    EXPECT_EQ(report->machExceptionInfo()->codes(), (std::vector<uint64_t>{2, 3}));

    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "RangeError");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "index 3 beyond bounds");
    ASSERT_TRUE(report->exceptionInfo()->stackFrames());
    EXPECT_EQ(report->exceptionInfo()->stackFrames()->at(0)->instructionPointer(), 0x100000010u);

    EXPECT_EQ(report->customData(), dataFromString("custom"));
    ASSERT_TRUE(report->uuidRef());
    EXPECT_EQ(report->uuidRef()->uuidString(), "A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF");
}

TEST(DZCrashReport, OptionalSectionsAndFieldsMayBeAbsent) {
    CrashReportBuilder builder;
    builder.report().report_info = nullptr;
    builder.report().process_info = nullptr;
    builder.report().system_info->os_build = nullptr;
    builder.report().system_info->timestamp = 0;
    builder.report().application_info->marketing_version = nullptr;
    builder.report().machine_info->model = nullptr;
    builder.report().threads[1]->n_frames = 0;
    builder.setImages({builder.image(0x1000, 0x100, "/lib/no-uuid.so")});
    builder.report().binary_images[0]->code_type = nullptr;
    builder.setException("RangeError", "");
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);

    EXPECT_FALSE(report->uuidRef());
    EXPECT_FALSE(report->hasProcessInfo());
    EXPECT_FALSE(report->systemInfo()->operatingSystemBuild());
    EXPECT_FALSE(report->systemInfo()->timestamp()) << "a timestamp of 0 means the clock could not be read";
    EXPECT_FALSE(report->applicationInfo()->applicationMarketingVersion());
    EXPECT_FALSE(report->machineInfo()->modelName());
    EXPECT_TRUE(report->threads()[1]->stackFrames().empty());
    EXPECT_FALSE(report->images()[0]->hasImageUUID());
    EXPECT_FALSE(report->images()[0]->imageUUID());
    EXPECT_EQ(report->images()[0]->codeType(), nullptr);
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "");
    EXPECT_FALSE(report->exceptionInfo()->stackFrames())
        << "an exception without frames has none, not an empty list";
    EXPECT_EQ(report->machExceptionInfo(), nullptr);
    EXPECT_FALSE(report->customData());
}

TEST(DZCrashReport, AnEmptyMarketingVersionStaysEmpty) {
    CrashReportBuilder builder;
    builder.report().application_info->marketing_version = builder.string("");
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->applicationInfo()->applicationMarketingVersion(), std::optional<std::string>(""));
}

TEST(DZCrashReport, WithoutMachineInfoTheProcessorComesFromTheArchitecture) {
    const struct {
        Dzcrash__Architecture architecture;
        uint64_t type;
        uint64_t subtype;
    } cases[] = {
        {DZCRASH__ARCHITECTURE__X86_32, 7, 3},        {DZCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
        {DZCRASH__ARCHITECTURE__ARMV6, 12, 6},        {DZCRASH__ARCHITECTURE__PPC, 18, 0},
        {DZCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {DZCRASH__ARCHITECTURE__ARMV7, 12, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.architecture);
        CrashReportBuilder builder;
        builder.report().machine_info = nullptr;
        builder.report().system_info->architecture = c.architecture;
        auto report = decode(builder);
        ASSERT_NE(report, nullptr);
        EXPECT_FALSE(report->hasMachineInfo());
        const auto& processor = *report->systemInfo()->processorInfo();
        EXPECT_EQ(processor.typeEncoding(), DZCrashReportProcessorTypeEncoding::Mach);
        EXPECT_EQ(processor.type(), c.type);
        EXPECT_EQ(processor.subtype(), c.subtype);
    }
}

TEST(DZCrashReport, PointerAuthenticatedARM64ReportsKeepOnlyTheAddressBitsOfEachPC) {
    const uint64_t signedPC = 0xABCD000123456789;
    const struct {
        uint64_t subtype;
        uint64_t expected;
    } cases[] = {{2, 0x123456789}, {0, signedPC}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subtype);
        CrashReportBuilder builder;
        builder.report().machine_info->processor = builder.processor(0x100000C, c.subtype);
        builder.setThreads({builder.thread(0, true, {builder.frame(signedPC), builder.frame(signedPC)})});
        builder.setException("RangeError", "", {builder.frame(signedPC)});
        auto report = decode(builder);
        ASSERT_NE(report, nullptr);
        for (const auto& frame : report->threads()[0]->stackFrames())
            EXPECT_EQ(frame->instructionPointer(), c.expected);
        EXPECT_EQ(report->exceptionInfo()->stackFrames()->at(0)->instructionPointer(), c.expected);
    }
}

TEST(DZCrashReport, FindsTheImageHoldingAnAddress) {
    CrashReportBuilder builder;
    builder.setImages({builder.image(0x1000, 0x1000, "/lib/a.so"),
                       builder.image(0x1800, 0x1000, "/lib/overlap.so"),
                       builder.image(0xFFFFFFFFFFFFF000, 0x1000, "/lib/top.so")});
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);

    auto nameAt = [&](uint64_t address) -> std::string {
        auto image = report->imageForAddress(address);
        return image ? image->imageName() : "none";
    };
    EXPECT_EQ(nameAt(0xFFF), "none");
    EXPECT_EQ(nameAt(0x1000), "/lib/a.so");
    EXPECT_EQ(nameAt(0x1900), "/lib/a.so") << "the first image in the list wins";
    EXPECT_EQ(nameAt(0x2000), "/lib/overlap.so") << "the end is not part of the image";
    EXPECT_EQ(nameAt(0x2800), "none");
    EXPECT_EQ(nameAt(0xFFFFFFFFFFFFFFFF), "/lib/top.so");
}

namespace {

struct DecodeFailure {
    const char* name;
    std::function<Data()> file;
    std::string description;
};

Data withByte(Data data, size_t index, uint8_t byte) {
    data[index] = byte;
    return data;
}

template <class Change>
std::function<Data()> changed(Change change) {
    return [change] {
        CrashReportBuilder builder;
        change(builder);
        return builder.fileData();
    };
}

const char* const kUnknownError = "An unknown error occured decoding the crash report";

const std::vector<DecodeFailure> kDecodeFailures = {
    {"header only",
     [] {
         Data file = CrashReportBuilder().fileData();
         file.resize(8);
         return file;
     },
     "Could not decode truncated crash log"},
    {"empty", [] { return Data{}; }, "Could not decode truncated crash log"},
    {"bad magic", [] { return withByte(CrashReportBuilder().fileData(), 0, 'D'); },
     "Could not decode invalid crash log header"},
    {"version 2", [] { return withByte(CrashReportBuilder().fileData(), 7, 2); },
     "Could not decode unsupported crash report version: 2"},
    {"nine bytes", [] { return dataFromString(std::string("dzcrash\x01\x00", 9)); }, kUnknownError},
    {"signal without its required fields",
     changed([](CrashReportBuilder& b) { b.report().signal = nullptr; }), kUnknownError},
    {"15-byte report UUID",
     changed([](CrashReportBuilder& b) { b.report().report_info->uuid = b.bytes(Data(15, 0xAB)); }),
     "Report UUID value is not a standard 16 bytes"},
    {"no threads", changed([](CrashReportBuilder& b) { b.setThreads({}); }),
     "Crash report is missing thread state information"},
    {"no images", changed([](CrashReportBuilder& b) { b.setImages({}); }),
     "Crash report is missing binary image information"},
    {"unknown architecture without machine info", changed([](CrashReportBuilder& b) {
         b.report().machine_info = nullptr;
         b.report().system_info->architecture = DZCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
     }),
     "Crash report has an unknown architecture"},
    {"architecture outside the enum without machine info", changed([](CrashReportBuilder& b) {
         b.report().machine_info = nullptr;
         b.report().system_info->architecture = static_cast<Dzcrash__Architecture>(99);
     }),
     "Crash report has an unknown architecture"},
    {"256 Mach codes",
     changed([](CrashReportBuilder& b) { b.setMachException(1, std::vector<uint64_t>(256, 7)); }),
     "Crash report includes too many Mach Exception codes"},
};

}  // namespace

TEST(DZCrashReport, RefusesBadReportsWithAnInvalidReportErrorNamingTheProblem) {
    for (const DecodeFailure& failure : kDecodeFailures) {
        SCOPED_TRACE(failure.name);
        Error error;
        EXPECT_EQ(DZCrashReport::initWithData(failure.file(), &error), nullptr);
        EXPECT_EQ(error.domain, DZCrashReporterErrorDomain);
        EXPECT_EQ(error.code, DZCrashReporterErrorCrashReportInvalid);
        EXPECT_EQ(error.description, failure.description);
        EXPECT_EQ(error.userInfo["NSLocalizedDescription"].stringOr(""), failure.description);
    }
}

TEST(DZCrashReport, TwoHundredFiftyFiveMachCodesStillDecode) {
    CrashReportBuilder builder;
    builder.setMachException(1, std::vector<uint64_t>(255, 7));
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->machExceptionInfo()->codes().size(), 255u);
}
