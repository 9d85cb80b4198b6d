#include <gtest/gtest.h>

#include <filesystem>

#include "DudIzizoz/Internals/Context/DIZDeviceTracker.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Internals/Util/DIZErrorLogFormatter.h"
#include "crash_reporter/async/testing/MachOFixture.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"
#include "platform/dyld/dyld.h"
#include "platform/dyld/testing/DyldTesting.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

constexpr uint64_t kBase = CrashReportBuilder::kImageBase;
constexpr const char* kAppBinary = "/Applications/App.app/Contents/MacOS/App";
constexpr uint64_t kSystemBase = 0x7fff20000000;
constexpr const char* kSystemLibrary = "/usr/lib/libobjc.A.dylib";

std::shared_ptr<DZCrashReport> decoded(const CrashReportBuilder& builder) {
    Error error;
    auto report = DZCrashReport::initWithData(builder.fileData(), &error);
    EXPECT_TRUE(report) << error.description;
    return report;
}

class DIZErrorLogFormatterTest : public ::testing::Test {
  protected:
    ~DIZErrorLogFormatterTest() override { resetAllForTesting(); }

    // The builder's report, run from an application bundle, with a system library beside it.
    void useApplicationLayout() {
        builder_.report().process_info->process_path = builder_.string(kAppBinary);
        builder_.setImages({builder_.image(kBase, CrashReportBuilder::kImageSize, kAppBinary),
                            builder_.image(kSystemBase, 0x1000, kSystemLibrary)});
    }
    void setCrashedFrame(CrashReportBuilder::Frame* frame) {
        builder_.setThreads({builder_.thread(0, true, {frame})});
    }
    std::string crashedFrameCode() {
        auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
        return *log->threads()->at(0)->frames()->at(0)->code();
    }

    TestHome home_{DIZHostBundle()};
    CrashReportBuilder builder_;
};

TEST_F(DIZErrorLogFormatterTest, AWholeSecondCrashTimeGainsTheLastMillisecond) {
    auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_NEAR(log->timestamp()->timeIntervalSince1970(), 1700000000.999, 1e-6);
    EXPECT_EQ(log->appLaunchTimestamp(), Date::fromUnix(1699999000)) << "the process start, unchanged";

    builder_.report().system_info->timestamp = 0;  // stored as "no time"
    log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_NEAR(log->timestamp()->timeIntervalSince1970(), 0.999, 1e-6);

    // Files keep whole seconds only, so a fractional time comes through the rule itself.
    EXPECT_EQ(DIZErrorLogFormatter::crashTimeFromRecordedTime(Date::fromUnix(1700000000.25)),
              Date::fromUnix(1700000000.25));
}

TEST_F(DIZErrorLogFormatterTest, AReportWithoutProcessInfoGetsPlaceholders) {
    builder_.report().process_info = nullptr;
    auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_EQ(log->processId(), 0);
    EXPECT_EQ(log->processName(), "???");
    EXPECT_EQ(log->parentProcessName(), "???");
    EXPECT_EQ(log->parentProcessId(), std::nullopt);
    EXPECT_EQ(log->applicationPath(), "???");
    EXPECT_EQ(log->appLaunchTimestamp(), Date::fromUnix(1700000000)) << "the crash time stands in";
}

TEST_F(DIZErrorLogFormatterTest, ProcessFieldsComeFromTheProcessInfo) {
    builder_.report().process_info->process_path = builder_.string("/home/alice/bin/crasher");
    auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_EQ(log->processId(), 4242);
    EXPECT_EQ(log->processName(), "crasher");
    EXPECT_EQ(log->parentProcessName(), "init");
    EXPECT_EQ(log->parentProcessId(), 1);
    EXPECT_EQ(log->applicationPath(), "/home/USER/bin/crasher");
    EXPECT_EQ(log->errorThreadId(), 0);
    EXPECT_TRUE(log->isFatal());
    EXPECT_EQ(log->osExceptionType(), "SIGSEGV");
    EXPECT_EQ(log->osExceptionCode(), "SEGV_MAPERR");
    EXPECT_EQ(log->osExceptionAddress(), "0x10");
}

TEST_F(DIZErrorLogFormatterTest, TheArchitectureComesFromTheFirstMachCodedImageElseTheMachine) {
    builder_.report().machine_info->processor = builder_.processor(kDIZCPUTypeARM64, 2);
    auto* unknownEncoding = builder_.image(kBase, 0x1000, "/opt/a");
    unknownEncoding->code_type->encoding =
        DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN;
    auto* withoutCodeType = builder_.image(kBase + 0x1000, 0x1000, "/opt/b");
    withoutCodeType->code_type = nullptr;
    builder_.setImages({unknownEncoding, withoutCodeType});
    auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_EQ(log->primaryArchitectureId(), static_cast<int64_t>(kDIZCPUTypeARM64));
    EXPECT_EQ(log->architectureVariantId(), 2);
    EXPECT_EQ(log->threads()->at(0)->frames()->at(0)->address(), "0x0000000100001234") << "64-bit addresses";

    auto* x86 = builder_.image(kBase + 0x2000, 0x1000, "/opt/c");
    x86->code_type = builder_.processor(kDIZCPUTypeX86, 3);
    builder_.setImages({unknownEncoding, withoutCodeType, x86});
    log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_EQ(log->primaryArchitectureId(), static_cast<int64_t>(kDIZCPUTypeX86));
    EXPECT_EQ(log->architectureVariantId(), 3);
    EXPECT_EQ(log->threads()->at(0)->frames()->at(0)->address(), "0x100001234")
        << "at least 8 digits, not 16";
}

TEST_F(DIZErrorLogFormatterTest, ASymbolOfASystemImageNamesTheFrameByTheOperatingSystemsRules) {
    useApplicationLayout();
    setCrashedFrame(builder_.frame(kSystemBase + 0x40, "_objc_msgSend", kSystemBase + 0x30));
    struct Case {
        Dzcrash__CrashReport__SystemInfo__OperatingSystem os;
        const char* code;
        bool warns;
    } cases[] = {
        {DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__MAC_OS_X, "objc_msgSend + 16", false},
        {DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__IPHONE_OS, "objc_msgSend + 16", false},
        {DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__IPHONE_SIMULATOR, "objc_msgSend + 16", false},
        {DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__APPLE_TVOS, "objc_msgSend + 16", false},
        {DZCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN, "_objc_msgSend + 16", true},
        {static_cast<Dzcrash__CrashReport__SystemInfo__OperatingSystem>(9), "_objc_msgSend + 16", false},
    };
    for (const auto& c : cases) {
        DIZLogCapture capture;
        builder_.report().system_info->operating_system = c.os;
        EXPECT_EQ(crashedFrameCode(), c.code) << c.os;
        const auto* warning = capture.find("Symbol \"_objc_msgSend\" prefix rules are unknown for this OS!");
        EXPECT_EQ(warning != nullptr, c.warns) << c.os;
        if (warning) {
            EXPECT_EQ(warning->level, DIZLogLevel::Warning);
            EXPECT_EQ(warning->tag, "DudIzizozCrashes");
        }
    }
}

TEST_F(DIZErrorLogFormatterTest, FramesOfTheApplicationAndUnknownPlacesCarryImageOffsets) {
    useApplicationLayout();
    setCrashedFrame(builder_.frame(kBase + 0x1234, "main", kBase + 0x1200));
    EXPECT_EQ(crashedFrameCode(), "0x100000000 + 4660") << "the application's own symbols are not used";

    setCrashedFrame(builder_.frame(kSystemBase + 0x40));
    EXPECT_EQ(crashedFrameCode(), "0x7fff20000000 + 64") << "a system frame without symbol";

    DIZLogCapture capture;
    setCrashedFrame(builder_.frame(0xdead0000));
    EXPECT_EQ(crashedFrameCode(), "0x0 + 0");
    const auto* warning = capture.find("Cannot find image for 0xdead0000");
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->level, DIZLogLevel::Warning);

    setCrashedFrame(builder_.frame(0));
    EXPECT_EQ(crashedFrameCode(), "0x0 + 0");
    EXPECT_FALSE(capture.contains("Cannot find image for 0x0")) << "a zero pc is not worth a warning";
}

TEST_F(DIZErrorLogFormatterTest, ImageKindsFollowTheApplicationBundle) {
    const std::string process = "/Applications/App.app/Contents/MacOS/App";
    struct Case {
        std::optional<std::string> image;
        DIZBinaryImageType kind;
    } cases[] = {
        {"/Applications/App.app/Contents/Frameworks/libswiftCore.dylib", DIZBinaryImageType::other},
        {"/Applications/App.app/Contents/Frameworks/X.framework/X", DIZBinaryImageType::appFramework},
        {"/Applications/App.app/Contents/PlugIns/Helper.appex/Contents/MacOS/Helper",
         DIZBinaryImageType::appFramework},
        {process, DIZBinaryImageType::appBinary},
        {"/applications/APP.app/contents/macos/app", DIZBinaryImageType::appBinary},
        {"/Applications/App.app/Contents/MacOS/../MacOS/App", DIZBinaryImageType::appBinary},
        {"/usr/lib/libobjc.A.dylib", DIZBinaryImageType::other},
        {std::nullopt, DIZBinaryImageType::other},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DIZErrorLogFormatter::imageTypeForImagePath(c.image, process), c.kind)
            << c.image.value_or("nil");
    }
    EXPECT_EQ(DIZErrorLogFormatter::imageTypeForImagePath(process, std::nullopt), DIZBinaryImageType::other);
}

TEST_F(DIZErrorLogFormatterTest, PathsLoseTheUserName) {
    struct Case {
        const char* path;
        const char* anonymized;
    } cases[] = {
        {"/Users/u1/Library/App.app/App", "/Users/USER/Library/App.app/App"},
        {"/Users/u1/Users/u2/x", "/Users/USER/Users/u2/x"},
        {"/Users//u1/x", "/Users//u1/x"},
        {"/Users/u1", "/Users/u1"},
        {"/Volumes/Users/x", ""},
        {"/usr/lib/libobjc.A.dylib", "/usr/lib/libobjc.A.dylib"},
        {"/home/alice/bin/app", "/home/USER/bin/app"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DIZErrorLogFormatter::anonymizedPathFromPath(c.path), c.anonymized) << c.path;
    }
}

TEST_F(DIZErrorLogFormatterTest, BinariesAreTheReferencedImagesAndTheApplicationsSorted) {
    builder_.report().process_info->process_path = builder_.string(kAppBinary);
    constexpr uint64_t kFramework = 0x200000000;
    constexpr uint64_t kUnreferenced = 0x7fff30000000;
    constexpr uint64_t kRegisterOnly = 0x7fff40000000;
    builder_.setImages({
        builder_.image(kUnreferenced, 0x1000, "/usr/lib/libunused.dylib"),
        builder_.image(kFramework, 0, "/Applications/App.app/Contents/Frameworks/X.framework/X"),
        builder_.image(kRegisterOnly, 0, "/usr/lib/libregister.dylib"),
        builder_.image(kSystemBase, 0x1000, kSystemLibrary,
                       Data{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                            0xDD, 0xEE, 0xFF}),
        builder_.image(kBase, CrashReportBuilder::kImageSize, kAppBinary),
    });
    builder_.setThreads({builder_.thread(0, true, {builder_.frame(kSystemBase + 0xfff)},
                                         {{"rdi", kRegisterOnly}, {"rsi", kRegisterOnly + 1}})});
    auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));

    std::vector<std::string> starts;
    for (const auto& binary : *log->binaries()) starts.push_back(*binary->startAddress());
    EXPECT_EQ(starts, (std::vector<std::string>{"0x0000000100000000", "0x0000000200000000",
                                                "0x00007fff20000000", "0x00007fff40000000"}))
        << "the unused system library is left out; the size-0 one holds only its base";
    const auto& framework = *log->binaries()->at(1);
    EXPECT_EQ(framework.endAddress(), "0x0000000200000000") << "size 0 ends at its base";
    EXPECT_EQ(framework.binaryId(), "???");
    EXPECT_EQ(framework.name(), "X");
    const auto& system = *log->binaries()->at(2);
    EXPECT_EQ(system.binaryId(), "00112233445566778899aabbccddeeff");
    EXPECT_EQ(system.endAddress(), "0x00007fff20000fff");
    EXPECT_EQ(system.path(), kSystemLibrary);
    EXPECT_EQ(system.name(), "libobjc.A.dylib");
    EXPECT_EQ(system.primaryArchitectureId(), static_cast<int64_t>(kDIZCPUTypeX86_64));
    EXPECT_EQ(system.architectureVariantId(), 3);
}

TEST_F(DIZErrorLogFormatterTest, TheUncaughtExceptionGoesOnTheCrashedThread) {
    builder_.setException("NSInvalidArgumentException", "bad argument",
                          {builder_.frame(kBase + 0x10), builder_.frame(kBase + 0x20)});
    builder_.setThreads(
        {builder_.thread(0, false, {builder_.frame(kBase + 0x400)}),
         builder_.thread(7, true, {builder_.frame(kBase + 0x1234)}, {{"rip", kBase + 0x1234}})});
    auto log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_EQ(log->exceptionType(), "NSInvalidArgumentException");
    EXPECT_EQ(log->exceptionReason(), "bad argument");
    EXPECT_EQ(log->errorThreadId(), 7);
    ASSERT_EQ(log->threads()->size(), 2u) << "no thread for the exception's own stack";
    EXPECT_FALSE(log->threads()->at(0)->exception());
    const auto& exception = log->threads()->at(1)->exception();
    ASSERT_TRUE(exception);
    EXPECT_EQ(exception->type(), "NSInvalidArgumentException");
    EXPECT_EQ(exception->message(), "bad argument");
    ASSERT_EQ(exception->frames()->size(), 2u);
    EXPECT_EQ(exception->frames()->at(1)->address(), "0x0000000100000020");
    EXPECT_EQ(exception->frames()->at(1)->code(), std::nullopt);
    EXPECT_EQ(*log->registers(), (Dictionary{{"rip", "0x0000000100001234"}}));

    builder_.setException("", "bad argument", {builder_.frame(kBase + 0x10)});
    log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_EQ(log->threads()->at(1)->exception()->type(), "SIGSEGV")
        << "the signal names a nameless exception";

    builder_.setException("NSInvalidArgumentException", "bad argument");
    log = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_));
    EXPECT_FALSE(log->threads()->at(1)->exception()) << "no frames, no exception model";
    EXPECT_EQ(log->exceptionReason(), "bad argument");
}

TEST_F(DIZErrorLogFormatterTest, AReportWithoutUUIDAnswersOneErrorIdEverywhere) {
    builder_.report().report_info->has_uuid = false;
    auto report = decoded(builder_);
    const auto first = DIZErrorLogFormatter::errorLogFromCrashReport(*report)->errorId();
    EXPECT_TRUE(UUID::fromString(first.value_or("")));
    EXPECT_EQ(DIZErrorLogFormatter::errorLogFromCrashReport(*report)->errorId(), first);
    EXPECT_EQ(DIZErrorLogFormatter::errorReportFromCrashReport(report.get())->incidentIdentifier(), first);
    EXPECT_EQ(DIZErrorLogFormatter::errorIdForCrashReport(*decoded(builder_)), first)
        << "the same file again";

    builder_.report().signal->address = 0x20;
    EXPECT_NE(DIZErrorLogFormatter::errorIdForCrashReport(*decoded(builder_)), first) << "another crash";

    builder_.report().report_info->has_uuid = true;
    EXPECT_EQ(DIZErrorLogFormatter::errorIdForCrashReport(*decoded(builder_)),
              "A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF");
    EXPECT_EQ(DIZErrorLogFormatter::errorReportFromCrashReport(nullptr), nullptr);
}

TEST_F(DIZErrorLogFormatterTest, TheDeviceTakesTheReportsFactsOverTheHistorys) {
    const auto history = DIZDeviceTracker::sharedInstance()->device();
    auto device = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_))->device();
    EXPECT_EQ(device->osVersion(), "10.15.7");
    EXPECT_EQ(device->osBuild(), "19H2");
    EXPECT_EQ(device->model(), "TestMachine1,1");
    EXPECT_EQ(device->appBuild(), "42");
    EXPECT_EQ(device->appVersion(), "1.2.3");
    EXPECT_EQ(device->appNamespace(), "com.example.crasher");
    EXPECT_EQ(device->sdkName(), history->sdkName());
    EXPECT_EQ(device->osName(), history->osName());
    EXPECT_EQ(device->locale(), history->locale());
    EXPECT_EQ(device->screenSize(), history->screenSize());

    builder_.report().application_info->marketing_version = builder_.string("");
    builder_.report().machine_info->model = nullptr;
    builder_.report().system_info->os_build = nullptr;
    device = DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_))->device();
    EXPECT_EQ(device->appVersion(), "1.0.0") << "an empty marketing version is no version";
    EXPECT_EQ(device->model(), history->model());
    EXPECT_EQ(device->osBuild(), history->osBuild());
}

TEST_F(DIZErrorLogFormatterTest, TheErrorReportNamesCodeTypeAndArchitecture) {
    struct Case {
        uint64_t type, subtype;
        const char* codeType;
        const char* archName;
    } cases[] = {
        {kDIZCPUTypeX86, 3, "X86", "i386"},
        {kDIZCPUTypeARM, 6, "ARM", "armv6"},
        {kDIZCPUTypeARM, 9, "ARM", "armv7"},
        {kDIZCPUTypeARM, 11, "ARM", "armv7s"},
        {kDIZCPUTypeARM, 12, "ARM", "arm-unknown"},
        {kDIZCPUTypePowerPC, 0, "PPC", "powerpc"},
        {kDIZCPUTypeX86_64, 0x80000003, "X86-64", "x86_64"},
        {kDIZCPUTypeARM64, 0, "ARM-64", "arm64"},
        {kDIZCPUTypeARM64, 1, "ARM-64", "armv8"},
        {kDIZCPUTypeARM64, 0x80000002, "ARM-64", "arm64e"},
        {kDIZCPUTypeARM64, 3, "ARM-64", "arm64-unknown"},
        {99, 0, "Unknown (99)", "???"},
    };
    for (const auto& c : cases) {
        builder_.report().machine_info->processor = builder_.processor(c.type, c.subtype);
        builder_.report().binary_images[0]->code_type = nullptr;
        auto report = DIZErrorLogFormatter::errorReportFromCrashReport(decoded(builder_).get());
        EXPECT_EQ(report->codeType(), c.codeType) << c.type << "/" << c.subtype;
        EXPECT_EQ(report->archName(), c.archName) << c.type << "/" << c.subtype;
    }

    DIZAppleErrorLog log;
    log.setPrimaryArchitectureId(static_cast<int64_t>(kDIZCPUTypeARM64));
    auto report = DIZErrorLogFormatter::errorReportFromLog(log);
    EXPECT_EQ(report->codeType(), "ARM-64");
    EXPECT_EQ(report->archName(), "???") << "no subtype";
    log.setPrimaryArchitectureId(std::nullopt);
    log.setProcessId(4242);
    report = DIZErrorLogFormatter::errorReportFromLog(log);
    EXPECT_EQ(report->codeType(), "???");
    EXPECT_EQ(report->appProcessIdentifier(), 4242u);
    EXPECT_FALSE(report->reporterKey().value_or("").empty());
}

// A Mach-O image of method names loaded into this process, and a report of a crash in the same
// binary at another address.
class DIZSelectorRegisterTest : public DIZErrorLogFormatterTest {
  protected:
    static constexpr const char* kName = "/Applications/App.app/Contents/MacOS/App";
    static constexpr std::array<uint8_t, 16> kUUID{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                                                   0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
    static constexpr char kMethodNames[] = "alloc\0objectAtIndex:\0tail";  // the last name runs off

    void place(bool is64, bool withUUID = true) {
        image_.is64 = is64;
        if (withUUID) image_.uuid = kUUID;
        image_.textSections.push_back(
            {"__objc_methname", std::vector<uint8_t>(std::begin(kMethodNames), std::end(kMethodNames) - 1)});
        image_.place();
        DyldTesting::addImage(reinterpret_cast<const void*>(image_.headerAddress()), kName, image_.slide());
        placed_ = true;
    }
    ~DIZSelectorRegisterTest() override {
        if (placed_) DyldTesting::removeImage(reinterpret_cast<const void*>(image_.headerAddress()));
    }

    // Where the report's copy of the image holds byte `offset` of the method names.
    uint64_t methodName(size_t offset) const {
        return kBase + (image_.sectionAddress(1) - image_.textVmaddr) + offset;
    }
    std::optional<std::string> selector(const CrashReportBuilder::Registers& registers, uint64_t codeType,
                                        const char* imageName = kName,
                                        std::optional<Data> uuid = Data(kUUID.begin(), kUUID.end())) {
        builder_.setImages({builder_.image(kBase, 0x100000, imageName, uuid)});
        builder_.setThreads({builder_.thread(0, true, {builder_.frame(kBase)}, registers)});
        const auto report = decoded(builder_);
        return DIZErrorLogFormatter::selectorRegisterValueFromReport(
            *report, DIZErrorLogFormatter::findCrashedThreadInReport(*report).get(), codeType);
    }

    MachOFixture image_;
    bool placed_ = false;
};

TEST_F(DIZSelectorRegisterTest, TheSelectorIsReadFromTheLoadedCopyOfTheImage) {
    place(true);
    EXPECT_EQ(selector({{"rsi", methodName(6)}, {"rdx", methodName(0)}}, kDIZCPUTypeX86_64),
              "objectAtIndex:");
    EXPECT_EQ(selector({{"rsi", 0}, {"rdx", methodName(0)}}, kDIZCPUTypeX86_64), "alloc")
        << "rsi 0 falls back";
    EXPECT_EQ(selector({{"rsi", methodName(21)}}, kDIZCPUTypeX86_64), std::nullopt)
        << "no NUL before the end";
    EXPECT_EQ(selector({{"rsi", kBase + 0x20}}, kDIZCPUTypeX86_64), std::nullopt)
        << "outside the method names";
    EXPECT_EQ(selector({{"rsi", 0x10}}, kDIZCPUTypeX86_64), std::nullopt) << "in no image of the report";
    EXPECT_EQ(selector({{"rsi", methodName(6)}}, kDIZCPUTypeX86_64, kName, Data(16, 0xEE)), std::nullopt)
        << "another build of the binary";
    EXPECT_EQ(selector({{"rsi", methodName(6)}}, kDIZCPUTypeX86_64, "/opt/Other"), std::nullopt);

    EXPECT_EQ(selector({{"x1", methodName(0)}}, kDIZCPUTypeARM64), "alloc");
    EXPECT_EQ(selector({{"x1", 0}, {"x2", methodName(0)}}, kDIZCPUTypeARM64), std::nullopt) << "only x1";
    EXPECT_EQ(selector({{"r1", 0}, {"r2", methodName(6)}}, kDIZCPUTypeARM), "objectAtIndex:");
    EXPECT_EQ(selector({{"rsi", methodName(0)}}, kDIZCPUTypePowerPC), std::nullopt);
}

TEST_F(DIZSelectorRegisterTest, AThirtyTwoBitImageIsReadByItsOwnLayout) {
    place(false);
    EXPECT_EQ(selector({{"ecx", methodName(6)}}, kDIZCPUTypeX86), "objectAtIndex:");
}

TEST_F(DIZSelectorRegisterTest, AnImageWithoutUUIDIsNotTakenForTheSameBuild) {
    place(true, false);
    EXPECT_EQ(selector({{"rsi", methodName(6)}}, kDIZCPUTypeX86_64, kName, std::nullopt), std::nullopt);
}

TEST_F(DIZSelectorRegisterTest, ARealElfImageOfTheProcessGivesNothing) {
    const std::string executable = std::filesystem::read_symlink("/proc/self/exe").string();
    bool listed = false;
    for (uint32_t index = 0; index < _dyld_image_count(); ++index) {
        const char* name = _dyld_get_image_name(index);
        listed |= name && executable == name;
    }
    ASSERT_TRUE(listed) << executable;
    EXPECT_EQ(selector({{"rsi", kBase + 0x40}}, kDIZCPUTypeX86_64, executable.c_str()), std::nullopt);
}

TEST_F(DIZErrorLogFormatterTest, TheErrorLogCarriesTheSelectorOfTheCrashedThread) {
    MachOFixture image;
    image.uuid = std::array<uint8_t, 16>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                         0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    image.textSections.push_back({"__objc_methname", {'r', 'e', 't', 'a', 'i', 'n', 0, 0}});
    image.place();
    const auto* header = reinterpret_cast<const void*>(image.headerAddress());
    DyldTesting::addImage(header, "/opt/crasher/bin/crasher", image.slide());
    const uint64_t retain = kBase + (image.sectionAddress(1) - image.textVmaddr);
    builder_.setThreads({builder_.thread(0, true, {builder_.frame(kBase + 0x10)}, {{"rsi", retain}})});
    EXPECT_EQ(DIZErrorLogFormatter::errorLogFromCrashReport(*decoded(builder_))->selectorRegisterValue(),
              "retain");
    DyldTesting::removeImage(header);
}

}  // namespace
