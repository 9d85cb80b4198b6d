#pragma once
// A task manager on a real store file, a real suite and a real network layer, with the manual
// clock; a local HTTP server on 127.0.0.1 stands for the measurement service.
#include <zlib.h>

#include <mutex>

#include "measurement/audiences/experiments/ZDMEExperimentRequestBuilder.h"
#include "measurement/audiences/experiments/tests/ExperimentFixture.h"
#include "measurement/foundation/ZDMAlarm.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/ZDMUserDefaults.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "platform/zazavaroveridiz/ZIZGzip.h"
#include "platform/zed/ZEDUdovade.h"
#include "testing/Eventually.h"

inline Data gzipped(const Data& bytes) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
              Z_OK);
    Data out(deflateBound(&stream, bytes.size()) + 32);
    stream.next_in = const_cast<Bytef*>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The measurement service: records every request and answers with the reply set last.
class LocalService {
  public:
    LocalService() { answer(204); }
    void stop() { server_.stop(); }
    std::string url() const { return server_.url(); }
    void answer(int status, Data reply = {}) {
        server_.script(kPath,
                       {{status, {}, std::string(reply.begin(), reply.end()), "application/octet-stream"}});
    }
    // "<method> <path>" of each request.
    std::vector<std::string> requests() {
        std::vector<std::string> requests;
        for (const auto& request : server_.received())
            requests.push_back(request.method + " " + request.path);
        return requests;
    }
    std::vector<Data> bodies() {
        std::vector<Data> bodies;
        for (const auto& request : server_.received())
            bodies.emplace_back(request.body.begin(), request.body.end());
        return bodies;
    }

  private:
    static constexpr const char* kPath = "/sdk-exp";
    LocalHttpServer server_;
};

class Observer : public ZDMEExperimentObserverDelegate {
  public:
    explicit Observer(std::shared_ptr<DispatchQueue> queue = nullptr,
                      std::optional<bool> fetch = std::nullopt)
        : queue_(std::move(queue)), fetch_(fetch) {}
    bool takesNewSnapshots() const override { return true; }
    void clientDidReceiveNewSnapshot(const std::shared_ptr<ZDMEClient>&) override {
        std::lock_guard lock(mutex_);
        ++snapshots_;
        onItsQueue_ = queue_ && queue_->isCurrent();
    }
    bool takesFetchErrors() const override { return true; }
    void clientDidReceiveFetchError(const std::shared_ptr<ZDMEClient>&, const Error& error) override {
        std::lock_guard lock(mutex_);
        errors_.push_back(error);
    }
    std::optional<bool> shouldFetchExperimentsForClient(const std::shared_ptr<ZDMEClient>&) override {
        return fetch_;
    }
    std::optional<std::shared_ptr<DispatchQueue>> queue() const override {
        if (!queue_) return std::nullopt;
        return queue_;
    }

    int snapshots() const {
        std::lock_guard lock(mutex_);
        return snapshots_;
    }
    bool toldOnItsQueue() const {
        std::lock_guard lock(mutex_);
        return onItsQueue_;
    }
    std::vector<Error> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }

  private:
    std::shared_ptr<DispatchQueue> queue_;
    std::optional<bool> fetch_;
    mutable std::mutex mutex_;
    int snapshots_ = 0;
    bool onItsQueue_ = false;
    std::vector<Error> errors_;
};

// The request as the service reads it.
struct SentRequest {
    std::optional<std::string> platform, language, bundleID;
    bool hasLanguage = false, appStore = true;
    int64_t version = 0;
    std::vector<std::string> diversions;
};

inline SentRequest decode(const Data& body) {
    SentRequest sent;
    auto request = ZDMPBExperimentRequest::initWithBuffer(body);
    EXPECT_TRUE(request);
    auto app = ZDMPBGetMessage<ZDMPBAppProperty>(request.get(), 0);
    EXPECT_TRUE(app);
    sent.platform = ZDMPBGetString(app.get(), 0);
    sent.hasLanguage = ZDMPBHasField(app.get(), 3);
    sent.language = ZDMPBGetString(app.get(), 3);
    sent.bundleID = ZDMPBGetString(app.get(), 4);
    sent.appStore = ZDMPBGetBool(app.get(), 5);
    sent.version = ZDMPBGetInt64(app.get(), 6);
    for (const auto& entry :
         ZDMPBGetArray(request.get(), 1, &ZDMPBClientProperty::messageClass()).value_or(Value::Array{}))
        sent.diversions.push_back(
            ZDMPBGetString(std::dynamic_pointer_cast<const ZDMPBClientProperty>(entry.asObject()).get(), 1)
                .value_or(""));
    return sent;
}

// The service's reply: the snapshots, else answers per SDK (name, status, snapshot or none).
inline Data responseBytes(
    const std::vector<std::shared_ptr<ZDMESnapshot>>& snapshots,
    const std::vector<std::tuple<std::string, uint32_t, std::shared_ptr<ZDMESnapshot>>>& sdkResponses = {}) {
    auto response = ZDMPBExperimentResponse::initWithBuffer(nullptr);
    Value::Array list;
    for (const auto& snapshot : snapshots) list.emplace_back(Value::ObjectPtr(snapshot->proto()));
    ZDMPBSetArray(response.get(), 0, list);
    Value::Array answers;
    for (const auto& [name, status, snapshot] : sdkResponses) {
        auto answer = ZDMPBSdkResponse::initWithBuffer(nullptr);
        ZDMPBSetString(answer.get(), 0, name);
        ZDMPBSetInt32(answer.get(), 1, static_cast<int32_t>(status));
        if (snapshot) ZDMPBSetMessage(answer.get(), 2, snapshot->proto().get());
        answers.emplace_back(Value::ObjectPtr(answer));
    }
    ZDMPBSetArray(response.get(), 1, answers);
    return *response->protoBuffer();
}

// A task manager on its own worker queue and the store file in the home, posting to the service.
inline std::shared_ptr<ZDMETaskManager> makeLocalTaskManager(std::shared_ptr<ZDMConfigStore> storage,
                                                             const LocalService& service, double now) {
    auto queue = DispatchQueue::serial(ZDMETaskManager::kWorkerQueueLabel);
    auto taskManager =
        ZDMETaskManager::initWithQueue(queue, ZDMAlarm::make(queue, ZDMETaskManager::kAlarmName),
                                       ZEDUdovade::initWithReachabilityHost("127.0.0.1"), std::move(storage),
                                       ZDMMeasurementSupportFilePath(ZDMEDatabase::kFileName), now);
    taskManager->setServiceBaseURL(service.url());
    return taskManager;
}

class TaskManagerTest : public ExperimentTest {
  protected:
    std::shared_ptr<ZDMETaskManager> makeTaskManager() {
        return makeLocalTaskManager(storage_, service_, clock_->now());
    }
    // Runs on the worker queue and waits, as the task manager's own steps run.
    template <class F>
    auto onWorker(const std::shared_ptr<ZDMETaskManager>& taskManager, F&& f) {
        using R = decltype(f());
        if constexpr (std::is_void_v<R>) {
            taskManager->dispatchSyncOnWorkerQueue(f);
        } else {
            R result{};
            taskManager->dispatchSyncOnWorkerQueue([&] { result = f(); });
            return result;
        }
    }
    // The due time of the pending fetch, 0 for none.
    double scheduledAt(const std::shared_ptr<ZDMETaskManager>& taskManager) {
        return onWorker(taskManager, [&] {
            const auto& at = taskManager->alarm()->scheduledTimestamp();
            return at ? at->timeIntervalSince1970() : 0.0;
        });
    }
    double stored(const char* key) { return storage_->doubleForKey(key); }

    LocalService service_;
    std::shared_ptr<ZDMUserDefaults> storage_ =
        std::make_shared<ZDMUserDefaults>(ZDMETaskManager::kSuiteName);
};
