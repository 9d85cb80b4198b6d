#pragma once
// What the channel tests share: the local server read as a log service; a delegate that
// records every channel callback; and a fixture with a real group over a real "Logs.sqlite" under
// a private home, a real HTTP client and the manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Channel/DIZChannelDelegate.h"
#include "DudIzizoz/Internals/Channel/DIZChannelGroupDefault.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitConfiguration.h"
#include "DudIzizoz/Internals/Channel/DIZChannelUnitDefault.h"
#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/HttpClient/DIZHttpClient.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Storage/DIZLogDBStorage.h"
#include "DudIzizoz/Internals/Util/tests/DIZHostBundle.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/UUID.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/Reachability_simulated.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "testing/Eventually.h"

namespace diz_channel_test {

using namespace std::chrono_literals;

// A log told apart from the others by its name.
inline std::shared_ptr<DIZLog> namedLog(const std::string& name) {
    auto log = std::make_shared<DIZStartServiceLog>();
    log->setServices(std::vector<std::string>{name});
    return log;
}

inline std::string nameOf(const std::shared_ptr<DIZLog>& log) {
    if (const auto startService = std::dynamic_pointer_cast<DIZStartServiceLog>(log)) {
        const auto& services = startService->services();
        return services && !services->empty() ? services->front() : "";
    }
    if (const auto coreSchema = std::dynamic_pointer_cast<DIZCoreSchemaLog>(log))
        return coreSchema->name().value_or("");
    return "";
}

inline std::vector<std::string> names(const std::string& prefix, size_t first, size_t count) {
    std::vector<std::string> all;
    for (size_t i = first; i < first + count; ++i) all.push_back(prefix + std::to_string(i));
    return all;
}

// The local server read as a log service: each upload as the names of its logs.
class DIZLogServer {
  public:
    struct Answer {
        int status = 200;
        // Lets the HTTP client retry a recoverable status at once instead of after its long delays.
        bool retryAtOnce = false;
    };

    void stop() { server_.stop(); }
    std::string url() const { return server_.url(); }
    // Answers in this order; the last one repeats.
    void script(const std::vector<Answer>& answers) {
        std::vector<LocalHttpServer::Answer> scripted;
        for (const auto& answer : answers) {
            scripted.push_back({answer.status, {}});
            if (answer.retryAtOnce) scripted.back().headers.emplace("x-dz-retry-after-ms", "0");
        }
        server_.script(kLogsPath, std::move(scripted));
    }
    // Uploads wait unanswered until release().
    void hold() { server_.hold(kLogsPath); }
    void release() { server_.release(); }
    // The names of the logs of every upload, in arrival order.
    std::vector<std::vector<std::string>> received() {
        std::vector<std::vector<std::string>> uploads;
        for (const auto& request : server_.received()) uploads.push_back(logNames(request.body));
        return uploads;
    }
    std::vector<std::string> allReceivedNames() {
        std::vector<std::string> all;
        for (const auto& upload : received()) all.insert(all.end(), upload.begin(), upload.end());
        return all;
    }
    size_t maxInFlight() { return server_.maxInFlight(); }
    bool waitForUploads(size_t count) { return server_.waitForRequests(count); }

  private:
    static constexpr const char* kLogsPath = "/logs";

    static std::vector<std::string> logNames(const std::string& body) {
        std::vector<std::string> found;
        const auto json = json::parse(body);
        const auto* logs = json ? (*json)["logs"].asArray() : nullptr;
        if (!logs) return {"<no logs in body>"};
        for (const auto& log : *logs) {
            const auto* services = log["services"].asArray();
            found.push_back(services && !services->empty() ? services->front().stringOr("")
                                                           : log["name"].stringOr(""));
        }
        return found;
    }

    LocalHttpServer server_;
};

// Every callback as "<what> <log name>", with the error code of failures ("<what> <name> <code>").
class DIZChannelRecorder : public DIZChannelDelegate {
  public:
    void channelGroupDidAddChannelUnit(DIZChannelGroupProtocol&,
                                       const std::shared_ptr<DIZChannelUnitProtocol>& unit) override {
        record("added " + unit->configuration()->groupId());
    }
    void channelPrepareLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) override {
        record("prepare " + nameOf(log));
    }
    void channelDidPrepareLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log, const std::string&,
                              uint64_t flags) override {
        record("didPrepare " + nameOf(log) + " " + std::to_string(flags));
    }
    void channelDidCompleteEnqueueingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log,
                                         const std::string&) override {
        record("complete " + nameOf(log));
    }
    void channelWillSendLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) override {
        record("willSend " + nameOf(log));
    }
    void channelDidSucceedSendingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log) override {
        record("succeeded " + nameOf(log));
    }
    void channelDidFailSendingLog(DIZChannelProtocol&, const std::shared_ptr<DIZLog>& log,
                                  const std::optional<Error>& error) override {
        record("failed " + nameOf(log) + (error ? " " + std::to_string(error->code) : ""));
    }
    void channelDidSetEnabled(DIZChannelProtocol& channel, bool isEnabled, bool deleteData) override {
        const bool isGroup = dynamic_cast<DIZChannelGroupProtocol*>(&channel) != nullptr;
        record(std::string(isGroup ? "group " : "unit ") + (isEnabled ? "enabled" : "disabled") +
               (deleteData ? " deleting" : ""));
    }
    void channelDidPauseWithIdentifyingObject(DIZChannelProtocol&, const DIZIdentifyingObject&) override {
        record("paused");
    }
    void channelDidResumeWithIdentifyingObject(DIZChannelProtocol&, const DIZIdentifyingObject&) override {
        record("resumed");
    }
    bool channelUnitShouldFilterLog(DIZChannelUnitProtocol&, const std::shared_ptr<DIZLog>& log) override {
        record("filter? " + nameOf(log));
        return nameOf(log).starts_with(filterPrefix);
    }

    std::vector<std::string> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t count(const std::string& prefix) {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count_if(
            events_.begin(), events_.end(), [&](const auto& event) { return event.starts_with(prefix); }));
    }
    std::vector<std::string> matching(const std::string& prefix) {
        std::vector<std::string> found;
        for (const auto& event : events()) {
            if (event.starts_with(prefix)) found.push_back(event);
        }
        return found;
    }
    // Waits for the network or another thread, never for a timer.
    bool waitFor(const std::string& prefix, size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kTestPatience, [&] {
            return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), [&](const auto& event) {
                       return event.starts_with(prefix);
                   })) >= count;
        });
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    // Logs whose name starts with this are filtered out.
    std::string filterPrefix = "\x01never";

  private:
    void record(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};

class DIZChannelTest : public ::testing::Test {
  protected:
    static constexpr const char* kGroupId = "Analytics";

    void SetUp() override {
        DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
        startGroup();
    }
    // The client goes before the server, so no connection is kept open behind a stopped server.
    void TearDown() override {
        stopGroup();
        server.stop();
    }

    // A group as the client starts it: over the files of the home, with the app secret set.
    void startGroup() {
        httpClient = DIZHttpClient::make();
        RunLoop::runUntilIdle();  // the reachability notifier reports the network once
        group = DIZChannelGroupDefault::make(httpClient, UUID(), server.url());
        group->setAppSecret("app-secret");
        group->addDelegate(recorder);
    }
    void stopGroup() {
        if (group) drain();
        group.reset();
        httpClient.reset();
        RunLoop::runUntilIdle();
    }

    std::shared_ptr<DIZChannelUnitDefault> addUnit(uint64_t flushInterval = kDIZDefaultFlushInterval,
                                                   uint64_t batchSizeLimit = kDIZDefaultBatchSizeLimit,
                                                   const std::string& groupId = kGroupId) {
        auto unit = group->addChannelUnitWithConfiguration(
            std::make_shared<DIZChannelUnitConfiguration>(groupId, kDIZDefaultChannelPriority, flushInterval,
                                                          batchSizeLimit, kDIZDefaultPendingBatchesLimit));
        drain();
        return std::dynamic_pointer_cast<DIZChannelUnitDefault>(unit);
    }
    void enqueue(DIZChannelUnitProtocol& unit, const std::vector<std::string>& logNames, uint64_t flags = 1) {
        for (const auto& name : logNames) unit.enqueueItem(namedLog(name), flags);
        drain();
    }
    // Everything queued on the group's queue so far has run.
    void drain() {
        group->logsDispatchQueue()->sync([] {});
    }
    template <class Read>
    auto onQueue(const Read& read) {
        decltype(read()) value{};
        group->logsDispatchQueue()->sync([&] { value = read(); });
        return value;
    }
    std::vector<std::string> storedNames(const std::string& groupId = kGroupId) {
        return onQueue([&] {
            std::vector<std::string> found;
            auto& storage = dynamic_cast<DIZLogDBStorage&>(*group->storage());
            for (const auto& log : storage.logsFromDBWithGroupId(groupId)) found.push_back(nameOf(log));
            return found;
        });
    }
    // A response is on its way back to the unit once the server has the upload; this waits until
    // the unit has handled it.
    bool waitUntilAnswered(const std::shared_ptr<DIZChannelUnitDefault>& unit, size_t pendingBatches = 0) {
        return eventually(
            [&] { return onQueue([&] { return unit->pendingBatchIds().size(); }) == pendingBatches; });
    }
    // The network drops and comes back: the HTTP client resumes its waiting calls.
    void networkComesBack() {
        SimulatedNetwork::setFlags(NetworkReachabilityFlags{});
        RunLoop::runUntilIdle();
        SimulatedNetwork::setFlags(NetworkReachabilityFlag::Reachable);
        RunLoop::runUntilIdle();
    }

    TestHome home{DIZHostBundle()};
    DIZLogCapture logs;
    ScopedManualClock clock;
    SimulatedNetwork::Scoped network{NetworkReachabilityFlag::Reachable};
    DIZLogServer server;
    std::shared_ptr<DIZChannelRecorder> recorder = std::make_shared<DIZChannelRecorder>();
    std::shared_ptr<DIZHttpClient> httpClient;
    std::shared_ptr<DIZChannelGroupDefault> group;
};

}  // namespace diz_channel_test
