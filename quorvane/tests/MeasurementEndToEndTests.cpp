// The agent's usage events end to end: the agent played on a scenario, its measurement requests
// sent to a recording server on 127.0.0.1 or to the unreachable default host.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "measurement/engine/ZDMMeasurementBundleFields.h"
#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "quorvane/AgentBundle.h"
#include "quorvane/testing/ScenarioRunner.h"

namespace {
class MeasuredRun : public ::testing::Test {
  protected:
    ScenarioRun simulate(const std::string& environment = "") {
        auto file = home_.path() / "usage.json";
        std::ofstream(file) << kUsageScenario;
        return runScenarioExecutable(QUORVANE_EXECUTABLE, file, environment, home_.path());
    }

    static const char* const kUsageScenario;
    TestHome home_{agentBundle()};
};

// MeasurementBatch, MeasurementBundle, Event and EventParam fields by index.
constexpr int32_t kBatchBundles = 0, kEventParams = 0, kEventName = 1, kParamName = 0, kParamString = 1;

template <class T>
std::vector<std::shared_ptr<const T>> repeated(const NANOMessageBase* message, int32_t index) {
    std::vector<std::shared_ptr<const T>> out;
    for (const Value& element : ZDMPBGetArray(message, index, &T::messageClass()).value_or(Value::Array{}))
        out.push_back(element.objectAs<T>());
    return out;
}

// Each uploaded event as "name/_o=origin", in bundle order.
std::vector<std::string> uploadedEvents(const LocalHttpServer::Request& request) {
    std::vector<std::string> events;
    const auto batch = ZDMPBMeasurementBatch::initWithBuffer(Data(request.body.begin(), request.body.end()));
    if (!batch) return events;
    for (const auto& bundle : repeated<ZDMPBMeasurementBundle>(batch.get(), kBatchBundles)) {
        for (const auto& event : repeated<ZDMPBEvent>(bundle.get(), kBundleEvents)) {
            std::string text = ZDMPBGetString(event.get(), kEventName).value_or("");
            for (const auto& param : repeated<ZDMPBEventParam>(event.get(), kEventParams))
                if (ZDMPBGetString(param.get(), kParamName).value_or("") == "_o")
                    text += "/_o=" + ZDMPBGetString(param.get(), kParamString).value_or("");
            events.push_back(text);
        }
    }
    return events;
}

// Cycles in a space, switches to a window outside it, resizes that one with the resize hotkey,
// opens "Spaces ...", creates a space, deletes it, and lets 20 s pass.
const char* const MeasuredRun::kUsageScenario =
    R"({"screens": [{"bounds": [0, 0, 1440, 900], "insets": {"top": 25}}],
    "apps": [{"pid": 101, "name": "Editor", "windows": [{"id": 1, "frame": [0, 25, 700, 875]},
                                                        {"id": 2, "frame": [10, 30, 600, 800]}]},
             {"pid": 102, "name": "Mail", "windows": [{"id": 3, "frame": [800, 100, 500, 500]}]}],
    "frontmost": 101,
    "defaults": {"resizeModifier": 131072, "firstLaunch": true,
                 "spaces": [{"name": "Left", "coordinates": [0, 25, 720, 900],
                             "shortcut": {"keyCode": 18, "modifierFlags": 1048576}},
                            {"name": "Right", "coordinates": [720, 25, 1440, 900],
                             "shortcut": {"keyCode": 19, "modifierFlags": 1048576}}]},
    "steps": [{"press": {"keyCode": 18, "modifierFlags": 1048576}},
              {"press": {"keyCode": 19, "modifierFlags": 1048576}},
              {"press": {"keyCode": 19, "modifierFlags": 1179648}},
              {"menu": "Spaces ..."},
              {"createSpace": {"name": "Top", "frame": [0, 25, 1440, 200]}},
              {"deleteSpace": 2},
              {"advance": 20}]})";

const std::vector<std::string> kUsageEvents{"cycled",        "switched",     "resized", "opened_preferences",
                                            "created_space", "deleted_space"};

std::vector<std::string> printedEvents(const std::string& out) {
    std::vector<std::string> events;
    for (const auto& line : scenarioLines(out))
        if (const auto* printed = line["events"].asArray())
            for (const auto& event : *printed) events.push_back(event.stringOr(""));
    return events;
}
}  // namespace

// The configuration is asked for first and is not there; the upload cycle that follows brings the
// start-up reports and the usage events, each once and in the order they happened, in one batch.
TEST_F(MeasuredRun, UsageEventsReachAMeasurementServerAfterTheConfigurationFetch) {
    LocalHttpServer server;
    LocalHttpServer::Answer notFound;
    notFound.status = 404;
    server.scriptPrefix("/config/app/", {notFound});
    const auto start = std::chrono::steady_clock::now();
    auto run = simulate("QUORVANE_MEASUREMENT_URL='" + server.url() + "' ");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(printedEvents(run.out), kUsageEvents);
    EXPECT_LT(elapsed, std::chrono::seconds(10));

    const auto received = server.received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0].method, "GET");
    EXPECT_EQ(received[0].path, "/config/app/1:100000000000:macos:0000000000000001");
    EXPECT_EQ(received[1].method, "POST");
    EXPECT_EQ(received[1].path, "/a");
    std::vector<std::string> expected{"_f/_o=auto", "_s/_o=auto", "_e/_o=auto"};
    for (const auto& name : kUsageEvents) expected.push_back(name + "/_o=app");
    EXPECT_EQ(uploadedEvents(received[1]), expected);
}

// Without a server of one's own the requests go to the unreachable default host, fail and wait for
// their retry: the run is the same.
TEST_F(MeasuredRun, TheSameRunEndsAlikeWithoutAMeasurementServer) {
    auto run = simulate();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(printedEvents(run.out), kUsageEvents);
}
