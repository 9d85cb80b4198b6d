#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesArchiverUtil.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesCXXExceptionWrapperException.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "DudIzizozCrashes/Internals/Util/DIZErrorLogFormatter.h"
#include "DudIzizozCrashes/Internals/Util/DIZWrapperExceptionManager.h"
#include "DudIzizozCrashes/Model/DIZWrapperExceptionModel.h"
#include "crash_reporter/DZCrashReporter.h"
#include "crash_reporter/format/testing/CrashReportBuilder.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kLastSaved = "last_saved_wrapper_exception";
constexpr const char* kMissingPrefix = "Exception data report doesn't exist on disk. File name: ";

std::shared_ptr<DIZWrapperException> record(int64_t processId) {
    auto model = std::make_shared<DIZWrapperExceptionModel>();
    model->setType("System.NullReferenceException");
    model->setMessage("object is null");
    model->setWrapperSdkName("dudizizoz.wrapper");
    auto wrapperException = std::make_shared<DIZWrapperException>();
    wrapperException->setModelException(model);
    wrapperException->setExceptionData(Data{0x00, 0x01, 0xff});
    wrapperException->setProcessId(processId);
    return wrapperException;
}

std::shared_ptr<DIZErrorReport> errorReport(const std::string& incidentId, uint64_t processId) {
    return std::make_shared<DIZErrorReport>(
        incidentId, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
        std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, nullptr, processId);
}

Value json(const std::shared_ptr<DIZWrapperException>& wrapperException) {
    return wrapperException ? Value(*wrapperException->serializeToDictionary()) : Value();
}

class DIZWrapperExceptionManagerTest : public ::testing::Test {
  protected:
    DIZWrapperExceptionManagerTest() {
        DIZCrashesUtil::resetDirectory();
        DIZCrashesArchiverUtil::addAllowedCrashesModuleClasses();
        DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    }
    ~DIZWrapperExceptionManagerTest() override {
        DIZCrashesUtil::resetDirectory();
        resetAllForTesting();
    }

    static fs::path file(const std::string& name) {
        return DIZUtility::dudIzizozDirectoryURL() / "crasheswrapperexceptions" / name;
    }
    size_t count(const std::string& text) {
        const auto texts = capture_.texts();
        return std::count(texts.begin(), texts.end(), text);
    }

    TestHome home_{DIZHostBundle()};
    DIZLogCapture capture_;
};

TEST_F(DIZWrapperExceptionManagerTest, SavingAtCrashTimeNeedsTheReporter) {
    DIZWrapperExceptionManager::saveWrapperExceptionAndCrashReport(*record(77));
    EXPECT_FALSE(fs::exists(file(kLastSaved)));
    const auto* message = capture_.find("Failed to save the crash report. CrashReporter wasn't initialized.");
    ASSERT_TRUE(message);
    EXPECT_EQ(message->level, DIZLogLevel::Error);
    EXPECT_EQ(message->tag, "DudIzizoz");

    // The reporter's directory does not exist yet: saving makes it.
    auto reporter = DZCrashReporter::initWithApplicationIdentifier(
        "com.example.wrapped", "7", std::nullopt,
        DZCrashReporterConfig::initWithBasePath((home_.path() / "reports").string()));
    DIZWrapperExceptionManager::setCrashReporter(reporter);
    DIZWrapperExceptionManager::saveWrapperException(*record(1));
    DIZWrapperExceptionManager::saveWrapperExceptionAndCrashReport(*record(77));
    EXPECT_EQ(json(DIZWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(kLastSaved)),
              json(record(77)))
        << "replaces the one saved before";
    ASSERT_TRUE(reporter->hasPendingCrashReport());
    Error error;
    const auto pending = DZCrashReport::initWithData(*reporter->loadPendingCrashReportData(), &error);
    ASSERT_TRUE(pending) << error.description;
    EXPECT_EQ(pending->processInfo()->processID(), static_cast<uint64_t>(getpid()));
    message = capture_.find("Crash report was saved successfully at path " + reporter->crashReportPath());
    ASSERT_TRUE(message);
    EXPECT_EQ(message->level, DIZLogLevel::Error);
}

TEST_F(DIZWrapperExceptionManagerTest, PairingGivesTheRecordToTheFirstReportOfItsProcess) {
    DIZWrapperExceptionManager::saveWrapperException(*record(77));
    DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
        {errorReport("A", 5), errorReport("", 77), errorReport("B", 77), errorReport("C", 77)});
    EXPECT_FALSE(fs::exists(file(kLastSaved)));
    EXPECT_TRUE(fs::exists(file("B")));
    EXPECT_FALSE(fs::exists(file("C")));
    EXPECT_FALSE(fs::exists(file("A")));

    DIZWrapperExceptionManager::deleteWrapperExceptionWithUUIDString("B");
    EXPECT_FALSE(fs::exists(file("B")));
    EXPECT_EQ(json(DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString("B")), json(record(77)))
        << "still in memory";
    EXPECT_FALSE(DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString("C"));
}

TEST_F(DIZWrapperExceptionManagerTest, AnUnpairedRecordIsGoneAfterThePairing) {
    DIZWrapperExceptionManager::saveWrapperException(*record(77));
    DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({errorReport("A", 5)});
    EXPECT_FALSE(fs::exists(file(kLastSaved)));
    EXPECT_FALSE(DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString("A"));
}

TEST_F(DIZWrapperExceptionManagerTest, WithoutASavedRecordNothingIsPaired) {
    DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({errorReport("A", 0)});
    EXPECT_EQ(count(std::string(kMissingPrefix) + kLastSaved), 1u);
    const auto* message = capture_.find(std::string(kMissingPrefix) + kLastSaved);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->level, DIZLogLevel::Error);
    EXPECT_EQ(message->tag, "DudIzizozCrashes");
    EXPECT_FALSE(fs::exists(file("A"))) << "a report of an unknown process gets no empty record";
}

TEST_F(DIZWrapperExceptionManagerTest, AnUnreadableFileIsDeletedAtTheFirstLoad) {
    ASSERT_TRUE(DIZUtility::createFileAtPathComponent("crasheswrapperexceptions/X", Data{'n', 'o', 'p', 'e'},
                                                      true, true));
    EXPECT_FALSE(DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString("X"));
    EXPECT_FALSE(fs::exists(file("X")));
    EXPECT_EQ(count("Could not read exception data stored on disk with file name X"), 1u);

    EXPECT_FALSE(DIZWrapperExceptionManager::loadWrapperExceptionWithUUIDString("X"));
    EXPECT_EQ(count("Could not read exception data stored on disk with file name X"), 1u);
    EXPECT_EQ(count(std::string(kMissingPrefix) + "X"), 1u);
}

TEST_F(DIZWrapperExceptionManagerTest, DeletingAllRemovesTheDirectoryUntilTheNextSave) {
    DIZWrapperExceptionManager::saveWrapperException(*record(77));
    DIZWrapperExceptionManager::deleteAllWrapperExceptions();
    EXPECT_FALSE(fs::exists(file("")));
    DIZWrapperExceptionManager::saveWrapperException(*record(78));
    EXPECT_EQ(json(DIZWrapperExceptionManager::loadWrapperExceptionWithBaseFilename(kLastSaved)),
              json(record(78)));
}

TEST_F(DIZWrapperExceptionManagerTest, TheRecordKeepsItsFieldsInJsonAndArchive) {
    const auto original = record(77);
    const Dictionary dictionary = *original->serializeToDictionary();
    EXPECT_EQ(dictionary.keys(), (std::vector<std::string>{"modelException", "processId", "exceptionData"}));
    EXPECT_EQ(Value(dictionary["exceptionData"]), Value(Data{0x00, 0x01, 0xff})) << "the bytes, not encoded";

    auto back = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(original));
    ASSERT_TRUE(back);
    auto decoded = back->objectAs<DIZWrapperException>();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(json(decoded), json(original));
    EXPECT_TRUE(std::dynamic_pointer_cast<DIZWrapperExceptionModel>(decoded->modelException()));

    const auto empty = std::make_shared<DIZWrapperException>();
    EXPECT_TRUE(empty->serializeToDictionary()->empty());
    back = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(empty));
    ASSERT_TRUE(back && back->objectAs<DIZWrapperException>());
    EXPECT_EQ(json(back->objectAs<DIZWrapperException>()), json(empty));
}

TEST_F(DIZWrapperExceptionManagerTest, ThePairedRecordBecomesTheErrorLogsException) {
    CrashReportBuilder builder;
    builder.report().report_info->has_uuid = false;
    auto report = DZCrashReport::initWithData(builder.fileData());
    ASSERT_TRUE(report);
    EXPECT_FALSE(DIZErrorLogFormatter::errorLogFromCrashReport(*report)->exception());

    DIZWrapperExceptionManager::saveWrapperException(*record(4242));
    DIZWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
        {DIZErrorLogFormatter::errorReportFromCrashReport(report.get())});
    const auto exception = DIZErrorLogFormatter::errorLogFromCrashReport(*report)->exception();
    ASSERT_TRUE(exception);
    EXPECT_EQ(exception->type(), "System.NullReferenceException");
}

TEST(DIZCrashesCXXExceptionWrapperExceptionTest, NamesTheThrownTypeAndKeepsTheThrowsStack) {
    const uintptr_t frames[] = {0x1000, 0x2000, 0x3000};
    struct Case {
        CXXTerminateInfo info;
        const char* name;
        const char* reason;
        std::vector<uint64_t> addresses;
    } cases[] = {
        {{nullptr, "St13runtime_error", "boom", 3, frames},
         "std::runtime_error",
         "boom",
         {0x1000, 0x2000, 0x3000}},
        {{nullptr, nullptr, nullptr, 0, nullptr}, "", "", {}},
        {{nullptr, "not a mangled name", "", 1, frames}, "not a mangled name", "", {0x1000}},
    };
    for (const auto& c : cases) {
        DIZCrashesCXXExceptionWrapperException exception(&c.info);
        EXPECT_EQ(exception.name(), c.name);
        EXPECT_EQ(exception.reason(), c.reason);
        EXPECT_EQ(exception.callStackReturnAddresses(), c.addresses) << c.name;
        EXPECT_EQ(exception.info(), &c.info) << "the record is kept, not copied";
    }
}

}  // namespace
