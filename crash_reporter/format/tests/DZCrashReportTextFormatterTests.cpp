#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/format/DZCrashReportTextFormatter.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/SystemLog.h"

namespace {

constexpr uint64_t kLibraryBase = 0x7fff20000000;
constexpr uint64_t kX86_64 = 0x1000007;

std::shared_ptr<DZCrashReport> decode(const CrashReportBuilder& builder) {
    Error error;
    auto report = DZCrashReport::initWithData(builder.fileData(), &error);
    EXPECT_NE(report, nullptr) << error.description;
    return report;
}

// The text alone: frames whose image a test took away are logged, and that is not what it looks at.
std::string textOf(const CrashReportBuilder& builder) {
    SystemLogCapture quiet([](SystemLogLevel, const std::string&) {});
    auto report = decode(builder);
    return report ? DZCrashReportTextFormatter::stringValueForCrashReport(*report, DZCrashReportTextFormatiOS)
                  : "";
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// System-log lines written while it lives.
class LogLines {
  public:
    LogLines()
        : capture_([this](SystemLogLevel level, const std::string& line) {
              std::lock_guard lock(mutex_);
              lines_.push_back(std::to_string(static_cast<int>(level)) + " " + line);
          }) {}
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    SystemLogCapture capture_;
};

}  // namespace

TEST(DZCrashReportTextFormatter, PrintsAFullReportInTheCrashLogLayout) {
    CrashReportBuilder builder;
    using B = CrashReportBuilder;
    builder.setThreads(
        {builder.thread(0, true,
                        {builder.frame(B::kImageBase + 0x1234, "_main", B::kImageBase + 0x1200),
                         builder.frame(B::kImageBase + 0x80)},
                        {{"rax", 1},
                         {"rbx", 2},
                         {"rcx", ~uint64_t{0}},
                         {"rdx", 4},
                         {"rip", B::kImageBase + 0x1234},
                         {"rsp", 0x7ffee000}}),
         builder.thread(1, false,
                        {builder.frame(kLibraryBase + 0x400, "_platform_memmove", kLibraryBase + 0x300)})});
    // Stored out of address order, so the listing has to sort.
    builder.setImages({builder.image(kLibraryBase, 0x1000, "/usr/lib/libfoo.dylib"),
                       builder.image(B::kImageBase, B::kImageSize, "/opt/crasher/bin/crasher",
                                     Data{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA,
                                          0xBB, 0xCC, 0xDD, 0xEE, 0xFF})});
    builder.setException("RangeError", "index 3 beyond bounds",
                         {builder.frame(kLibraryBase + 0x10),
                          builder.frame(B::kImageBase + 0x1234, "_main", B::kImageBase + 0x1200)});

    auto golden = FileLocations::readFile(QUORVANE_TEST_FIXTURES "/full_report.txt");
    ASSERT_TRUE(golden);
    EXPECT_EQ(textOf(builder), std::string(golden->begin(), golden->end()));
}

TEST(DZCrashReportTextFormatter, NamesTheOperatingSystem) {
    struct Case {
        int operatingSystem;
        const char* name;
    } cases[] = {{0, "Mac OS X"},    {1, "iPhone OS"},  {2, "Mac OS X"},
                 {3, "Unknown (3)"}, {4, "Apple tvOS"}, {7, "Unknown (7)"}};
    for (const auto& c : cases) {
        CrashReportBuilder builder;
        builder.report().system_info->operating_system =
            static_cast<Dzcrash__CrashReport__SystemInfo__OperatingSystem>(c.operatingSystem);
        EXPECT_TRUE(
            contains(textOf(builder), std::string("OS Version:      ") + c.name + " 10.15.7 (19H2)\n"))
            << c.operatingSystem;
    }
}

TEST(DZCrashReportTextFormatter, TakesTheCodeTypeFromTheFirstImageThatNamesOne) {
    struct Case {
        std::vector<uint64_t> imageTypes;
        uint64_t systemType;
        const char* text;
        const char* ripCell;
    } cases[] = {
        {{kX86_64}, kX86_64, "X86-64", "   rip: 0x0000000000001234 "},
        {{99, 7}, kX86_64, "X86", "   rip: 0x00001234 "},
        {{12}, kX86_64, "ARM", "   rip: 0x00001234 "},
        {{18}, kX86_64, "PPC", "   rip: 0x00001234 "},
        {{0x100000C}, 7, "ARM-64", "   rip: 0x0000000000001234 "},
        {{99}, 7, "X86", "   rip: 0x00001234 "},
        {{99}, 99, "Unknown (99)", "   rip: 0x0000000000001234 "},
    };
    for (const auto& c : cases) {
        CrashReportBuilder builder;
        std::vector<CrashReportBuilder::Image*> images;
        uint64_t base = 0x1000;
        for (uint64_t type : c.imageTypes) {
            auto* image = builder.image(base, 0x1000, "/lib/image");
            image->code_type = builder.processor(type, 0);
            images.push_back(image);
            base += 0x1000;
        }
        builder.setImages(images);
        builder.report().machine_info->processor = builder.processor(c.systemType, 0);
        builder.setThreads({builder.thread(0, true, {}, {{"rip", 0x1234}})});
        std::string text = textOf(builder);
        EXPECT_TRUE(contains(text, std::string("Code Type:       ") + c.text + "\n")) << c.text << "\n"
                                                                                      << text;
        EXPECT_TRUE(contains(text, c.ripCell)) << c.text;
    }
}

TEST(DZCrashReportTextFormatter, PrintsFourRegisterCellsALine) {
    struct Case {
        size_t registers;
        const char* layout;  // one letter per cell, "|" for a line end
    } cases[] = {{6, "cccc|cc||"}, {4, "cccc||"}, {1, "c||"}, {0, "|"}};
    for (const auto& c : cases) {
        CrashReportBuilder builder;
        CrashReportBuilder::Registers registers;
        for (size_t i = 0; i < c.registers; ++i) registers.push_back({"r" + std::to_string(i), i});
        builder.setThreads({builder.thread(0, true, {}, registers)});
        std::string text = textOf(builder);
        size_t start = text.find("Thread State:\n");
        size_t end = text.find("Binary Images:");
        ASSERT_NE(start, std::string::npos);
        std::string state = text.substr(start + 14, end - start - 14);
        std::string layout;
        for (size_t i = 0; i < state.size(); ++i) {
            if (state[i] == '\n') layout += '|';
            if (state[i] == ':') layout += 'c';
        }
        EXPECT_EQ(layout, c.layout) << c.registers << " registers:\n" << state;
    }
}

TEST(DZCrashReportTextFormatter, CallsR12IpOnArmMachinesOnly) {
    for (uint64_t machineType : {uint64_t{12}, uint64_t{0x100000C}, kX86_64}) {
        CrashReportBuilder builder;
        builder.report().machine_info->processor = builder.processor(machineType, 0);
        builder.setThreads({builder.thread(0, true, {}, {{"r12", 7}})});
        std::string text = textOf(builder);
        bool arm = machineType != kX86_64;
        EXPECT_EQ(contains(text, "    ip: 0x0000000000000007 "), arm) << machineType;
        EXPECT_EQ(contains(text, "   r12: 0x0000000000000007 "), !arm) << machineType;
    }
}

TEST(DZCrashReportTextFormatter, WithoutACrashedThreadLeavesOutItsLineAndState) {
    CrashReportBuilder builder;
    builder.setThreads({builder.thread(0, false, {}), builder.thread(1, false, {})});
    std::string text = textOf(builder);
    EXPECT_FALSE(contains(text, "Crashed Thread:"));
    EXPECT_FALSE(contains(text, "Thread State:"));
    EXPECT_TRUE(
        contains(text, "Exception Codes: SEGV_MAPERR at 0x10\n\nThread 0:\n\nThread 1:\n\nBinary Images:\n"))
        << text;
}

TEST(DZCrashReportTextFormatter, StatesTheFirstCrashedThreadAndTheLastOnesRegisters) {
    CrashReportBuilder builder;
    builder.setThreads({builder.thread(3, true, {}, {{"a", 1}}), builder.thread(4, false, {}),
                        builder.thread(5, true, {}, {{"b", 2}})});
    std::string text = textOf(builder);
    EXPECT_TRUE(contains(text, "Crashed Thread:  3\n"));
    EXPECT_TRUE(contains(text, "Thread 3 Crashed:\n\nThread 4:\n\nThread 5 Crashed:\n\n"));
    EXPECT_TRUE(contains(text, "Thread 5 crashed with X86-64 Thread State:\n     b: 0x0000000000000002 \n\n"))
        << text;
    EXPECT_FALSE(contains(text, "     a: "));
}

TEST(DZCrashReportTextFormatter, ListsImagesOncePerBaseAddressInAddressOrder) {
    CrashReportBuilder builder;
    builder.setImages({builder.image(0x3000, 0x100, "/lib/c"), builder.image(0x2000, 0, "/lib/empty"),
                       builder.image(0x3000, 0x200, "/lib/c-again"),
                       builder.image(0, 0x100, "/lib/at-zero")});
    std::string text = textOf(builder);
    std::string images = text.substr(text.find("Binary Images:\n"));
    EXPECT_EQ(images,
              "Binary Images:\n"
              "            0x2000 -             0x2000  empty x86_64  <??\?> /lib/empty\n"
              "            0x3000 -             0x30ff  c x86_64  <??\?> /lib/c\n");
}

TEST(DZCrashReportTextFormatter, NamesTheArchitectureOfEachImage) {
    struct Case {
        uint64_t type;
        uint64_t subtype;
        const char* name;
    } cases[] = {{7, 3, "i386"},
                 {12, 6, "armv6"},
                 {12, 9, "armv7"},
                 {12, 11, "armv7s"},
                 {12, 5, "arm-unknown"},
                 {18, 0, "powerpc"},
                 {kX86_64, 3, "x86_64"},
                 {0x100000C, 0, "arm64"},
                 {0x100000C, 1, "armv8"},
                 {0x100000C, 0x80000002, "arm64e"},
                 {0x100000C, 7, "arm64-unknown"},
                 {99, 0, "???"}};
    for (const auto& c : cases) {
        CrashReportBuilder builder;
        auto* image = builder.image(0x1000, 0x100, "/lib/x");
        image->code_type = builder.processor(c.type, c.subtype);
        builder.setImages({image});
        EXPECT_TRUE(contains(textOf(builder), std::string(" x ") + c.name + "  <??\?> /lib/x\n")) << c.name;
    }
    CrashReportBuilder builder;
    auto* image = builder.image(0x1000, 0x100, "/lib/x");
    image->code_type->encoding = DZCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_UNKNOWN;
    builder.setImages({image});
    EXPECT_TRUE(contains(textOf(builder), " x ???  <??\?> /lib/x\n")) << "not a Mach code type";
}

TEST(DZCrashReportTextFormatter, AFrameInNoImagePrintsUnknownAndLogsIt) {
    CrashReportBuilder builder;
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);
    LogLines log;
    DZCrashReportStackFrameInfo frame(0xdead, nullptr);
    EXPECT_EQ(DZCrashReportTextFormatter::formatStackFrame(frame, 12, *report, true),
              "12  ???                                 0x000000000000dead 0x0 + 0\n");
    EXPECT_EQ(DZCrashReportTextFormatter::formatStackFrame(DZCrashReportStackFrameInfo(0, nullptr), 0,
                                                           *report, false),
              "0   ???                                 0x00000000 0x0 + 0\n");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"6 [DZCrashReporter] Cannot find image for 0xdead"})
        << "a pc of 0 is no frame to look for";
}

TEST(DZCrashReportTextFormatter, DropsTheSymbolPrefixOnlyWhereItsRulesAreKnown) {
    struct Case {
        int operatingSystem;
        const char* symbol;
        const char* text;
        bool logged;
    } cases[] = {{0, "_main", "main + 4", false}, {4, "_main", "main + 4", false},
                 {0, "_", "_ + 4", false},        {0, "main", "main + 4", false},
                 {3, "_main", "_main + 4", true}, {9, "_main", "_main + 4", true}};
    for (const auto& c : cases) {
        CrashReportBuilder builder;
        builder.report().system_info->operating_system =
            static_cast<Dzcrash__CrashReport__SystemInfo__OperatingSystem>(c.operatingSystem);
        auto report = decode(builder);
        ASSERT_NE(report, nullptr);
        LogLines log;
        auto symbol = std::make_shared<DZCrashReportSymbolInfo>(c.symbol, CrashReportBuilder::kImageBase, 0);
        DZCrashReportStackFrameInfo frame(CrashReportBuilder::kImageBase + 4, symbol);
        std::string line = DZCrashReportTextFormatter::formatStackFrame(frame, 0, *report, true);
        EXPECT_EQ(line.substr(line.find(" 0x") + 20), std::string(c.text) + "\n")
            << c.symbol << " on " << c.operatingSystem;
        std::vector<std::string> expected;
        if (c.logged) {
            expected.push_back(std::string("6 [DZCrashReporter] Symbol \"") + c.symbol +
                               "\" prefix rules are unknown for this OS!");
        }
        EXPECT_EQ(log.lines(), expected);
    }
}

TEST(DZCrashReportTextFormatter, PadsTheFileColumnByCharactersNotBytes) {
    CrashReportBuilder builder;
    builder.setImages({builder.image(0x1000, 0x100, "/lib/Prüfung✓")});
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);
    std::string line = DZCrashReportTextFormatter::formatStackFrame(
        DZCrashReportStackFrameInfo(0x1010, nullptr), 0, *report, false);
    EXPECT_EQ(line, "0   Prüfung✓" + std::string(35 - 8, ' ') + " 0x00001010 0x1000 + 16\n");
}

TEST(DZCrashReportTextFormatter, PrintsMissingPartsAsUnknown) {
    CrashReportBuilder builder;
    builder.report().report_info->has_uuid = false;
    builder.report().machine_info->model = nullptr;
    builder.report().process_info->process_name = nullptr;
    builder.report().process_info->process_path = nullptr;
    builder.report().process_info->parent_process_name = nullptr;
    builder.report().system_info->os_build = nullptr;
    std::string text = textOf(builder);
    EXPECT_TRUE(contains(text,
                         "Incident Identifier: ???\nHardware Model:      ???\nProcess:         ??? [4242]\n"
                         "Path:            ???\n"))
        << text;
    EXPECT_TRUE(contains(text, "Parent Process:  ??? [1]\n"));
    EXPECT_TRUE(contains(text, "OS Version:      Mac OS X 10.15.7 (??\?)\n"));

    CrashReportBuilder bare;
    bare.report().process_info = nullptr;
    bare.report().machine_info = nullptr;
    text = textOf(bare);
    EXPECT_TRUE(
        contains(text, "Hardware Model:      ???\nProcess:         ??? [???]\nPath:            ???\n"))
        << text;
    EXPECT_TRUE(contains(text, "Parent Process:  ??? [???]\n"));
    EXPECT_TRUE(contains(text, "       0x100000000 -        0x10001ffff  crasher "))
        << "no process path to mark";
}

TEST(DZCrashReportTextFormatter, PrintsTheVersionAloneWithoutAMarketingVersion) {
    for (const char* marketing : {static_cast<const char*>(nullptr), ""}) {
        CrashReportBuilder builder;
        builder.report().application_info->marketing_version =
            marketing ? builder.string(marketing) : nullptr;
        EXPECT_TRUE(contains(textOf(builder), "Version:         42\n")) << (marketing ? "empty" : "absent");
    }
}

TEST(DZCrashReportTextFormatter, EncodesTheTextLossilyInItsEncoding) {
    CrashReportBuilder builder;
    builder.report().application_info->identifier = builder.string("com.example.süß✓");
    auto report = decode(builder);
    ASSERT_NE(report, nullptr);
    auto identifierLine = [&](uint64_t encoding) -> std::string {
        auto bytes = DZCrashReportTextFormatter(DZCrashReportTextFormatiOS, encoding).formatReport(*report);
        if (!bytes) return "none";
        std::string text(bytes->begin(), bytes->end());
        size_t start = text.find("Identifier:      ");
        return text.substr(start, text.find('\n', start) - start);
    };
    EXPECT_EQ(identifierLine(DZUTF8StringEncoding), "Identifier:      com.example.süß✓");
    EXPECT_EQ(identifierLine(DZISOLatin1StringEncoding), "Identifier:      com.example.s\xFC\xDF?");
    EXPECT_EQ(identifierLine(DZASCIIStringEncoding), "Identifier:      com.example.s???");
    EXPECT_EQ(identifierLine(1234), "none");
}
