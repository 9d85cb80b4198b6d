#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupDefault.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitProtocol.h"
#include "DudIzizoz/Internals/Util/DIZEncrypter.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "DudIzizozCrashes/Internals/Model/DIZAppleErrorLog.h"
#include "DudIzizozCrashes/Internals/Model/DIZHandledErrorLog.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesBufferedLog.h"
#include "DudIzizozCrashes/Internals/Util/DIZCrashesUtil.h"
#include "DudIzizozCrashes/Model/DIZErrorAttachmentLog.h"
#include "DudIzizozCrashes/Model/DIZExceptionModel.h"
#include "DudIzizozCrashes/tests/DIZCrashesTesting.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "testing/ChildProcess.h"
#include "testing/DeliberateFault.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSecret = "0b4d7c2e-5a61-4f3e-9d8b-7c1a2e3f4b5c";
constexpr double kStart = 1800000000;

std::shared_ptr<DIZHandledErrorLog> handledError(const std::string& id,
                                                 const std::optional<std::string>& token = std::nullopt) {
    auto log = std::make_shared<DIZHandledErrorLog>();
    log->setErrorId(id);
    auto exception = std::make_shared<DIZExceptionModel>();
    exception->setType("Failure");
    exception->setMessage(id);
    log->setException(exception);
    if (token) log->addTransmissionTargetToken(*token);
    return log;
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path bufferDirectory() {
    return DIZUtility::dudIzizozDirectoryURL() / "crasheslogbuffer";
}
fs::path bufferFile(size_t index) {
    return bufferDirectory() / (std::to_string(index) + ".dzcrasheslogbuffer");
}
fs::path tokenFile(size_t index) {
    return bufferDirectory() / (std::to_string(index) + ".targettoken");
}

// Hears what every unit of a group prepares.
class PreparedLogs : public DIZChannelDelegate {
  public:
    struct Prepared {
        std::string groupId;
        std::shared_ptr<DIZLog> log;
        uint64_t flags;
    };
    void channelDidPrepareLog(DIZChannelProtocol& channel, const std::shared_ptr<DIZLog>& log,
                              const std::string&, uint64_t flags) override {
        const auto* unit = dynamic_cast<DIZChannelUnitProtocol*>(&channel);
        std::lock_guard guard(mutex_);
        prepared_.push_back({unit ? unit->configuration()->groupId() : "", log, flags});
    }
    std::vector<Prepared> on(const std::string& groupId) {
        std::lock_guard guard(mutex_);
        std::vector<Prepared> found;
        for (const auto& entry : prepared_) {
            if (entry.groupId == groupId) found.push_back(entry);
        }
        return found;
    }

  private:
    std::mutex mutex_;
    std::vector<Prepared> prepared_;
};

class DIZCrashesLogBufferTest : public DIZCrashesServiceTest {
  protected:
    DIZCrashesLogBufferTest() { clock_->setWallTime(kStart); }
    ~DIZCrashesLogBufferTest() override { diz_log_buffer_saved = 0; }

    // The service on a group whose units keep no logs, with `observer` hearing the group.
    std::shared_ptr<DIZCrashes> start(const std::shared_ptr<DIZChannelDelegate>& observer = nullptr) {
        group_ = DIZChannelGroupDefault::make(std::shared_ptr<DIZDudIzizozIngestion>());
        if (observer) group_->addDelegate(observer);
        auto crashes = DIZCrashes::sharedInstance();
        crashes->startWithChannelGroup(group_, kSecret, std::nullopt, true);
        EXPECT_TRUE(BackgroundActivity::waitUntilIdle(20));
        return crashes;
    }
    void prepare(const std::shared_ptr<DIZLog>& log, const std::string& internalId, double at) {
        clock_->setWallTime(at);
        DIZCrashes::sharedInstance()->channelDidPrepareLog(*group_, log, internalId, 1);
    }
    size_t bufferUnits() const {
        size_t count = 0;
        for (const auto& unit : group_->channels())
            count += unit->configuration()->groupId() == "CrashesBuffer";
        return count;
    }

    ScopedManualClock clock_;
    std::shared_ptr<DIZChannelGroupDefault> group_;
    DIZEncrypter encrypter_;
};

TEST_F(DIZCrashesLogBufferTest, WhenEverySlotIsTakenTheOldestLogGivesWay) {
    start();
    // Slots 3 and 9 hold the oldest logs, 3 with a token.
    for (size_t i = 0; i < kDIZCrashesLogBufferSize; ++i) {
        const double at = (i == 3 || i == 9) ? kStart : kStart + 10 + static_cast<double>(i);
        prepare(handledError("log-" + std::to_string(i),
                             i == 3 ? std::optional<std::string>("t3") : std::nullopt),
                "id-" + std::to_string(i), at);
    }
    EXPECT_EQ(encrypter_.decryptString(diz_log_buffer[3].targetToken), "t3");
    EXPECT_EQ(diz_log_buffer[59].timestamp, kStart + 69);

    // Crash logs and attachments never take a slot.
    prepare(std::make_shared<DIZAppleErrorLog>(), "apple", kStart + 200);
    prepare(DIZErrorAttachmentLog::attachmentWithText("note", "n.txt"), "attachment", kStart + 200);

    struct Case {
        const char* internalId;
        std::optional<std::string> token;
        size_t replaced;
    } cases[] = {{"id-60", std::nullopt, 3}, {"id-61", "t61", 9}, {"id-62", std::nullopt, 0}};
    for (const auto& c : cases) {
        const auto log = handledError(c.internalId, c.token);
        prepare(log, c.internalId, kStart + 300);
        const DIZCrashesBufferedLog& slot = diz_log_buffer[c.replaced];
        EXPECT_EQ(slot.internalId, c.internalId);
        EXPECT_EQ(slot.timestamp, kStart + 300);
        const auto archive = DIZUtility::archiveKeyedData(log);
        EXPECT_EQ(slot.buffer, std::string(archive->begin(), archive->end()));
        if (c.token) {
            EXPECT_EQ(encrypter_.decryptString(slot.targetToken), c.token);
        } else {
            EXPECT_TRUE(slot.targetToken.empty()) << c.internalId;
        }
    }
    for (size_t i = 0; i < kDIZCrashesLogBufferSize; ++i) {
        EXPECT_NE(diz_log_buffer[i].internalId, "apple");
        EXPECT_NE(diz_log_buffer[i].internalId, "attachment");
    }
    EXPECT_TRUE(capture_.contains("Reached end of buffer. Next step is overwriting the oldest one."));
    EXPECT_TRUE(capture_.contains("Overwrote buffered log at index 3."));
}

TEST_F(DIZCrashesLogBufferTest, ACrashWritesPendingLogsAndEmptiesTheSlotsOfCompletedOnes) {
    const auto crashes = start();
    const auto kept = handledError("kept", "target-token");
    prepare(kept, "kept", kStart);
    prepare(handledError("done"), "done", kStart + 1);
    crashes->channelDidCompleteEnqueueingLog(*group_, nullptr, "done");
    EXPECT_TRUE(diz_log_buffer[1].buffer.empty() && diz_log_buffer[1].internalId.empty());
    EXPECT_EQ(diz_log_buffer[1].timestamp, 0);
    std::ofstream(bufferFile(1)) << "left from before";

    diz_save_log_buffer();
    EXPECT_EQ(diz_log_buffer_saved, 1);
    const std::string archive = contents(bufferFile(0));
    EXPECT_EQ(archive, diz_log_buffer[0].buffer);
    const auto restored = DIZUtility::unarchiveKeyedData(Data(archive.begin(), archive.end()));
    ASSERT_TRUE(restored && restored->objectAs<DIZHandledErrorLog>());
    EXPECT_EQ(restored->objectAs<DIZHandledErrorLog>()->errorId(), "kept");
    EXPECT_EQ(encrypter_.decryptString(contents(tokenFile(0))), "target-token");
    EXPECT_TRUE(fs::exists(bufferFile(1)) && fs::file_size(bufferFile(1)) == 0) << "a free slot truncates";
    EXPECT_FALSE(fs::exists(tokenFile(1)));

    // The process goes on after the write: a log completed now must not come back at the next start.
    crashes->channelDidCompleteEnqueueingLog(*group_, kept, "kept");
    EXPECT_FALSE(fs::exists(bufferFile(0)));
    EXPECT_TRUE(fs::exists(tokenFile(0))) << "the token file stays";
    EXPECT_TRUE(capture_.contains("Deleted crash buffer file: " + bufferFile(0).string() + "."));
}

TEST_F(DIZCrashesLogBufferTest, TheReplaySkipsWhatItCannotReadAndKeepsOnlyWhatItCannotUnarchive) {
    // Files as a crash of the previous run left them.
    fs::create_directories(bufferDirectory());
    const auto archive = *DIZUtility::archiveKeyedData(handledError("replayed"));
    const std::string archiveText(archive.begin(), archive.end());
    std::ofstream(bufferFile(0)) << archiveText;
    std::ofstream(tokenFile(0)) << *encrypter_.encryptString("target-token");
    std::ofstream(bufferFile(1)) << "";
    std::ofstream(bufferFile(2)) << "not an archive";
    std::ofstream(bufferFile(3)) << archiveText;
    std::ofstream(tokenFile(3)) << "not a token";

    const auto observer = std::make_shared<PreparedLogs>();
    const auto crashes = start(observer);
    const auto replayed = observer->on("CrashesBuffer");
    ASSERT_EQ(replayed.size(), 2u);
    std::multiset<std::string> tokens;
    for (const auto& entry : replayed) {
        EXPECT_EQ(entry.flags, 1u);
        const auto log = std::dynamic_pointer_cast<DIZHandledErrorLog>(entry.log);
        ASSERT_TRUE(log);
        EXPECT_EQ(log->errorId(), "replayed");
        const auto logTokens = log->transmissionTargetTokens();
        tokens.insert(logTokens && !logTokens->empty() ? *logTokens->begin() : "");
    }
    EXPECT_EQ(tokens, (std::multiset<std::string>{"", "target-token"})) << "the bad token is dropped";
    EXPECT_TRUE(capture_.contains("Failed to decrypt the target token."));
    EXPECT_TRUE(capture_.contains("Deserialization failed for log: The log deserialized to NULL."));
    for (size_t i : {0, 1, 3}) EXPECT_EQ(fs::file_size(bufferFile(i)), 0u) << i;
    EXPECT_EQ(contents(bufferFile(2)), "not an archive");
    EXPECT_FALSE(fs::exists(tokenFile(0)) || fs::exists(tokenFile(3)));
    EXPECT_EQ(bufferUnits(), 1u);
    ASSERT_TRUE(crashes->bufferChannelUnit());
    const auto configuration = crashes->bufferChannelUnit()->configuration();
    EXPECT_EQ(configuration->priority(), 2);
    EXPECT_EQ(configuration->flushInterval(), 1u);
    EXPECT_EQ(configuration->batchSizeLimit(), 50u);
    EXPECT_EQ(configuration->pendingBatchesLimit(), 1u);

    // Disabling empties the buffer files that hold something, and leaves the token files.
    std::ofstream(bufferFile(5)) << archiveText;
    std::ofstream(tokenFile(5)) << "token";
    crashes->setEnabled(false);
    EXPECT_EQ(fs::file_size(bufferFile(5)), 0u);
    EXPECT_EQ(fs::file_size(bufferFile(2)), 0u);
    EXPECT_EQ(contents(tokenFile(5)), "token");
}

// Runs only as a child of the test below, in the home it names: three logs are prepared on the
// crash service's unit while the unit's queue is held, so none of them completes, and then the
// process crashes.
constexpr const char* kHoldingChildVariable = "DIZ_CRASHES_HOLDING_CHILD";

TEST(DIZCrashesLogBufferChild, CrashesWithThreeLogsPending) {
    if (!std::getenv(kHoldingChildVariable)) GTEST_SKIP() << "runs as a child process only";
    Bundle::setMainBundle(DIZHostBundle());
    DIZDudIzizoz::start(kSecret, {&DIZCrashes::classObject()});
    const auto unit = DIZCrashes::sharedInstance()->channelUnit();
    ASSERT_TRUE(unit);
    // What the start itself enqueued completes first; only the three logs below stay pending.
    ASSERT_TRUE(BackgroundActivity::waitUntilIdle(20));
    unit->logsDispatchQueue()->async([] {
        for (;;) pause();
    });
    unit->enqueueItem(handledError("first"), 1);
    unit->enqueueItem(handledError("second", "target-token"), 1);
    unit->enqueueItem(handledError("third"), 1);
    storeThroughNull();
}

TEST_F(DIZCrashesLogBufferTest, LogsPendingAtACrashAreEnqueuedAgainByTheNextRun) {
    const pid_t child = spawnThisTestBinary(
        "DIZCrashesLogBufferChild.CrashesWithThreeLogsPending",
        {.environment = {std::string(kHoldingChildVariable) + "=1", "QUORVANE_HOME=" + home_.path().string()},
         .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    ASSERT_TRUE(status && WIFSIGNALED(*status)) << (status ? *status : -1);

    std::vector<std::string> written, tokens;
    for (const auto& entry : fs::directory_iterator(bufferDirectory())) {
        if (entry.path().extension() == ".dzcrasheslogbuffer" && fs::file_size(entry.path()) > 0)
            written.push_back(entry.path().filename());
        if (entry.path().extension() == ".targettoken") tokens.push_back(entry.path().filename());
    }
    EXPECT_EQ(written.size(), 3u);
    EXPECT_EQ(tokens.size(), 1u);

    // This process is the next run, in the same home.
    const auto observer = std::make_shared<PreparedLogs>();
    const auto crashes = start(observer);
    const auto replayed = observer->on("CrashesBuffer");
    ASSERT_EQ(replayed.size(), 3u);
    std::map<std::string, std::string> tokenOf;
    for (const auto& entry : replayed) {
        EXPECT_EQ(entry.flags, 1u);
        const auto log = std::dynamic_pointer_cast<DIZHandledErrorLog>(entry.log);
        ASSERT_TRUE(log);
        const auto logTokens = log->transmissionTargetTokens();
        tokenOf[log->errorId().value_or("")] = logTokens && !logTokens->empty() ? *logTokens->begin() : "";
    }
    EXPECT_EQ(tokenOf,
              (std::map<std::string, std::string>{{"first", ""}, {"second", "target-token"}, {"third", ""}}));
    for (const auto& name : written) EXPECT_EQ(fs::file_size(bufferDirectory() / name), 0u) << name;
    for (const auto& name : tokens) EXPECT_FALSE(fs::exists(bufferDirectory() / name)) << name;

    crashes->updateConfigurationWithAppSecret(kSecret, std::nullopt);
    EXPECT_EQ(observer->on("CrashesBuffer").size(), 3u) << "nothing more to replay";
    EXPECT_EQ(bufferUnits(), 1u);
}

}  // namespace
