// Report files come from disk after a crash, so any damage must end in a report or an error,
// never in a crash or a read out of bounds (the sanitizer build checks the latter).
#include <gtest/gtest.h>

#include <random>

#include "crash_reporter/async/dzcrash_error.h"
#include "crash_reporter/format/DZCrashReport.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"

namespace {

// A report that reaches every section and repeated field.
Data fullReport() {
    CrashReportBuilder builder;
    builder.setMachException(1, {2, 3});
    builder.setException("RangeError", "index 3 beyond bounds",
                         {builder.frame(0x100000010, "throw", 0x100000000)});
    builder.report().has_custom_data = true;
    builder.report().custom_data = builder.bytes(dataFromString("custom"));
    return builder.fileData();
}

// Either a report, or no report and an invalid-report error with a description.
void expectReportOrError(const Data& file) {
    Error error;
    auto report = DZCrashReport::initWithData(file, &error);
    if (report) return;
    EXPECT_EQ(error.code, DZCrashReporterErrorCrashReportInvalid);
    EXPECT_FALSE(error.description.empty());
}

}  // namespace

TEST(DZCrashReportDamage, EveryPrefixDecodesOrFails) {
    const Data file = fullReport();
    ASSERT_NE(DZCrashReport::initWithData(file), nullptr);
    for (size_t length = 0; length < file.size(); length++) {
        SCOPED_TRACE(length);
        expectReportOrError(Data(file.begin(), file.begin() + static_cast<ptrdiff_t>(length)));
    }
}

TEST(DZCrashReportDamage, EverySingleByteChangeDecodesOrFails) {
    const Data file = fullReport();
    std::mt19937 random(29);
    std::uniform_int_distribution<size_t> position(0, file.size() - 1);
    std::uniform_int_distribution<int> offset(1, 255);
    for (int i = 0; i < 1000; i++) {
        Data damaged = file;
        size_t at = position(random);
        damaged[at] = static_cast<uint8_t>(damaged[at] + offset(random));
        SCOPED_TRACE(testing::Message() << "byte " << at << " set to " << int(damaged[at]));
        expectReportOrError(damaged);
    }
}
