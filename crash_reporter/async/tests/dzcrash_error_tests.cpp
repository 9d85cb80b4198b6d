#include <gtest/gtest.h>

#include <cerrno>

#include "crash_reporter/async/dzcrash_error.h"

TEST(DZCrashError, TextsCoverTheTableAndNameEverythingElseUnhandled) {
    EXPECT_STREQ(dzcrash_error_text(DZCRASH_ESUCCESS), "No error");
    EXPECT_STREQ(dzcrash_error_text(DZCRASH_EINVALID_DATA),
                 "The input data is in an unknown or invalid format.");
    EXPECT_STREQ(dzcrash_error_text(10), "Unhandled error code");
    EXPECT_STREQ(dzcrash_error_text(-1), "Unhandled error code");
}

TEST(DZCrashError, PosixErrorsAreOperatingSystemFailuresWithTheNumberUnderneath) {
    Error error;
    dzcrash_make_posix_error(&error, ENOENT, "Could not open");
    EXPECT_EQ(error.domain, "DZCrashReporterErrorDomain");
    EXPECT_EQ(error.code, DZCrashReporterErrorOperatingSystem);
    EXPECT_EQ(error.description, "Could not open");
    EXPECT_EQ(error.userInfo["NSUnderlyingError"]["code"].asInteger(), ENOENT);
    dzcrash_make_error(nullptr, 0, "ignored");
}

TEST(DZCrashError, MachErrorsCarryTheKernelResultAndPlainErrorsCarryNothingUnderneath) {
    Error error;
    dzcrash_make_mach_error(&error, 5, "Could not allocate port");
    EXPECT_EQ(error.domain, "DZCrashReporterErrorDomain");
    EXPECT_EQ(error.code, DZCrashReporterErrorOperatingSystem);
    EXPECT_EQ(error.userInfo["NSLocalizedDescription"].stringOr(""), "Could not allocate port");
    EXPECT_EQ(error.userInfo["NSUnderlyingError"]["domain"].stringOr(""), "NSMachErrorDomain");
    EXPECT_EQ(error.userInfo["NSUnderlyingError"]["code"].asInteger(), 5);

    dzcrash_make_error(&error, DZCrashReporterErrorResourceBusy, "already enabled");
    EXPECT_EQ(error.code, 3);
    EXPECT_TRUE(error.userInfo["NSUnderlyingError"].isNull());
}
