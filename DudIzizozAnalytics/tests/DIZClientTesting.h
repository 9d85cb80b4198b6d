#pragma once
// The reporting client as the application starts it, for the services' tests: a private home in the
// agent's bundle, the manual clock, a reachable network, a local collector, and the real channel
// group over a real "Logs.sqlite". Each test ends as a process would: queued work finishes, and
// the next test starts from a new process's state with the files left as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DudIzizoz/DIZDudIzizoz.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupDefault.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupProtocol.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Storage/tests/SQLiteTestSupport.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "DudIzizozCrashes/DIZCrashes.h"
#include "platform/dispatch/BackgroundActivity.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "testing/EnvironmentOverride.h"

inline constexpr const char* kSecret = "0b4d7c2e-5a61-4f3e-9d8b-7c1a2e3f4b5c";

class DIZClientTest : public ::testing::Test {
  protected:
    ~DIZClientTest() override {
        settle();
        forgetTheProcess();
    }

    // What a new process would start from; the stored files stay.
    static void forgetTheProcess() {
        resetAllForTesting();
        RunLoop::runUntilIdle();
    }
    static void settle() { ASSERT_TRUE(BackgroundActivity::waitUntilSettled(20)); }

    void startBoth() {
        DIZDudIzizoz::setLogUrl(server.url());
        DIZDudIzizoz::start(kSecret, {&DIZAnalytics::classObject(), &DIZCrashes::classObject()});
    }
    // Every log posted to Dud Izizoz once the flush interval has passed, in order. The analytics
    // service opens a session as it starts; its start logs are left out unless asked for.
    std::vector<Value> sentLogs(bool withSessionStarts = false) {
        settle();
        clock->advance(6);
        EXPECT_TRUE(server.waitForRequests(1));
        settle();
        std::vector<Value> out;
        for (const auto& request : server.received()) {
            if (!request.target.starts_with("/logs")) continue;
            auto body = json::parse(request.body).value_or(Value());
            for (const auto& log : *body["logs"].asArray()) {
                if (withSessionStarts || log["type"].stringOr("") != "startSession") out.push_back(log);
            }
        }
        return out;
    }
    static std::shared_ptr<DIZChannelGroupProtocol> group() {
        return DIZDudIzizoz::sharedInstance()->channelGroup();
    }
    // The logs stored for `groupId`, read on the group's queue.
    static std::vector<std::shared_ptr<DIZLog>> storedLogs(const std::string& groupId) {
        auto channels = std::dynamic_pointer_cast<DIZChannelGroupDefault>(group());
        std::vector<std::shared_ptr<DIZLog>> logs;
        if (!channels) return logs;
        channels->logsDispatchQueue()->sync([&] {
            logs = dynamic_cast<DIZLogDBStorage&>(*channels->storage()).logsFromDBWithGroupId(groupId);
        });
        return logs;
    }
    // The stored logs of `groupId` of one type.
    template <class Log>
    static std::vector<std::shared_ptr<Log>> storedLogsOf(const std::string& groupId) {
        std::vector<std::shared_ptr<Log>> found;
        for (const auto& log : storedLogs(groupId))
            if (auto typed = std::dynamic_pointer_cast<Log>(log)) found.push_back(typed);
        return found;
    }

    // One row of "Logs.sqlite" as a reader of the file sees it, in the order stored.
    struct StoredRow {
        std::string groupId;
        std::string priority;
        std::shared_ptr<DIZLog> log;  // null when the archive does not decode
    };
    static std::vector<StoredRow> storedRows() {
        std::vector<StoredRow> rows;
        const auto file = DIZUtility::dudIzizozDirectoryURL() / kDIZLogsDatabaseFilename;
        for (const auto& line : sqlite_test::column(file,
                                                    "SELECT groupId || '|' || IFNULL(priority, '') || '|' || "
                                                    "log FROM logs ORDER BY id")) {
            const auto first = line.find('|'), second = line.find('|', first + 1);
            auto archived = DIZUtility::unarchiveKeyedData(base64Decode(line.substr(second + 1)));
            rows.push_back({line.substr(0, first), line.substr(first + 1, second - first - 1),
                            archived ? archived->objectAs<DIZLog>() : nullptr});
        }
        return rows;
    }

    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
    ScopedManualClock clock;
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    LocalHttpServer server;
    EnvironmentOverride environment;
};
