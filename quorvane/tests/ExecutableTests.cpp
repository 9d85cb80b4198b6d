#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>

#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/engine/tests/StoredRawEvents.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "platform/foundation/JSON.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/testing/DroppingFront.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "quorvane/AgentBundle.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/testing/ScenarioRunner.h"
#include "testing/ChildProcess.h"
#include "testing/Eventually.h"

namespace {
class Executable : public ::testing::Test {
  protected:
    // `environment`: assignments put in front of the command, e.g. "NAME='value' ".
    ScenarioRun simulate(const std::filesystem::path& file, const std::string& environment = "",
                         const std::filesystem::path& executable = QUORVANE_EXECUTABLE) {
        return runScenarioExecutable(executable, file, environment, home_.path());
    }

    TestHome home_{agentBundle()};  // to read what the agent stores under its bundle identifier
};
}  // namespace

TEST_F(Executable, DemoShowsCyclingAndResize) {
    auto run = simulate(std::filesystem::path(QUORVANE_SCENARIOS) / "demo.json");
    ASSERT_EQ(run.status, 0) << run.err;
    auto out = scenarioLines(run.out);
    std::vector<int64_t> focused;
    std::vector<std::string> events;
    for (auto& line : out) {
        focused.push_back(line["focused"].integerOr(0));
        for (auto& event : *line["events"].asArray()) events.push_back(*event.asString());
    }
    EXPECT_EQ(focused, (std::vector<int64_t>{1, 3, 2, 1, 4, 4, 3, 3}));
    EXPECT_EQ(events,
              (std::vector<std::string>{"cycled", "cycled", "cycled", "switched", "resized", "cycled"}));
    EXPECT_EQ(json::write(out[5]["windows"]["4"]), "[0,25,720,875]");
}

namespace {
// The logs of every batch a collector received, whatever request carried them.
std::vector<Value> receivedLogs(LocalHttpServer& collector) {
    std::vector<Value> logs;
    for (const auto& request : collector.received()) {
        EXPECT_EQ(request.target, "/logs?api-version=1.0.0");
        // The server has inflated a gzip body; either way it is the batch's JSON.
        auto batch = json::parse(request.body).value_or(Value());
        EXPECT_TRUE(batch["logs"].asArray()) << request.body;
        if (const auto* batchLogs = batch["logs"].asArray())
            logs.insert(logs.end(), batchLogs->begin(), batchLogs->end());
    }
    return logs;
}

// One application with two windows in a space whose shortcut cycles them: the scenario presses the
// shortcut, then takes `nextStep`.
std::string cyclingScenario(const std::string& nextStep) {
    return R"({"screens": [{"bounds": [0, 0, 1440, 900]}],
        "apps": [{"pid": 101, "name": "Editor", "windows": [{"id": 1, "frame": [0, 25, 700, 875]},
                                                            {"id": 2, "frame": [10, 30, 600, 800]}]}],
        "frontmost": 101,
        "defaults": {"resizeModifier": 131072, "firstLaunch": true,
                     "spaces": [{"name": "Left", "coordinates": [0, 25, 720, 900],
                                 "shortcut": {"keyCode": 18, "modifierFlags": 1048576}, "size": "all"}]},
        "steps": [{"press": {"keyCode": 18, "modifierFlags": 1048576}}, )" +
           nextStep + "]}";
}

std::vector<std::string> typesOf(const std::vector<Value>& logs) {
    std::vector<std::string> types;
    for (const auto& log : logs) types.push_back(log["type"].stringOr(""));
    std::sort(types.begin(), types.end());
    return types;
}
}  // namespace

// The advance step waits for the requests its flush timers started, so the logs are there on exit:
// the client's start-service log and the start of the session that the launch opened.
TEST_F(Executable, LogUrlDeliversTheStartServiceLogToALocalCollector) {
    LocalHttpServer collector;
    auto file = home_.path() / "flush.json";
    std::ofstream(file) << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": [{"advance": 7}]})";

    auto run = simulate(file, "QUORVANE_LOG_URL='" + collector.url() + "' ");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(scenarioLines(run.out).size(), 2u);

    auto logs = receivedLogs(collector);
    ASSERT_EQ(typesOf(logs), (std::vector<std::string>{"startService", "startSession"}));
    const Value& log =
        *std::find_if(logs.begin(), logs.end(), [](const Value& l) { return l["type"] == "startService"; });
    EXPECT_EQ(json::write(log["services"]), R"(["Crashes","Analytics"])");
    EXPECT_EQ(log["isDidOzodozudaEnabled"].asBool(), false);
}

// The agent's usage events reach the reporting client by themselves: a press that cycles the
// windows of a space arrives at the collector as an event log.
TEST_F(Executable, CyclingPressDeliversItsEventToALocalCollector) {
    LocalHttpServer collector;
    auto file = home_.path() / "cycle.json";
    std::ofstream(file) << cyclingScenario(R"({"advance": 7})");

    auto run = simulate(file, "QUORVANE_LOG_URL='" + collector.url() + "' ");
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = scenarioLines(run.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json::write(lines[1]["events"]), R"(["cycled"])");

    auto logs = receivedLogs(collector);
    auto session =
        std::find_if(logs.begin(), logs.end(), [](const Value& l) { return l["type"] == "startSession"; });
    auto event = std::find_if(logs.begin(), logs.end(), [](const Value& l) { return l["type"] == "event"; });
    ASSERT_NE(event, logs.end());
    ASSERT_NE(session, logs.end());
    EXPECT_EQ((*event)["name"].stringOr(""), "cycled");
    EXPECT_EQ((*event)["id"].stringOr("").size(), 36u);
    EXPECT_EQ((*event)["sid"], (*session)["sid"]);
    EXPECT_EQ(std::count_if(logs.begin(), logs.end(), [](const Value& l) { return l["type"] == "event"; }),
              1);
}

// Nothing answers at the log URL, so the log stays queued; a run this short ends before the
// background queue would have stored it unless the end of the run waits for it.
TEST_F(Executable, StartServiceLogIsStoredBeforeAShortRunEnds) {
    auto file = home_.path() / "empty.json";
    std::ofstream(file) << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": []})";
    ClosedLocalPort closed;

    auto run = simulate(file, "QUORVANE_LOG_URL='" + closed.url() + "' ");
    ASSERT_EQ(run.status, 0) << run.err;

    std::vector<std::filesystem::path> stores;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home_.path()))
        if (entry.path().filename() == "Logs.sqlite") stores.push_back(entry.path());
    ASSERT_EQ(stores.size(), 1u);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(stores[0].c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::vector<std::string> groups;
    sqlite3_exec(
        db, "SELECT groupId FROM logs",
        [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(values[0] ? values[0] : "");
            return 0;
        },
        &groups, nullptr);
    sqlite3_close(db);
    std::sort(groups.begin(), groups.end());
    EXPECT_EQ(groups, (std::vector<std::string>{"Analytics", "DudIzizoz"}));
}

// A collector that first closes the connection without answering is tried again on the scenario's
// clock, not left waiting for a network change, and receives each log once.
TEST_F(Executable, LogReachesACollectorThatFirstClosedTheConnectionWithoutAnswering) {
    LocalHttpServer collector;
    DroppingFront front(collector.port(), 1);
    auto file = home_.path() / "retry.json";
    std::ofstream(file)
        << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": [{"advance": 7}, {"advance": 10}]})";

    auto run = simulate(file, "QUORVANE_LOG_URL='" + front.url() + "' ");
    ASSERT_EQ(run.status, 0) << run.err;
    // The two units' batches may share a connection or not; one was dropped, so one more came.
    EXPECT_GE(front.connections(), 2u);
    EXPECT_EQ(typesOf(receivedLogs(collector)), (std::vector<std::string>{"startService", "startSession"}));
}

// The delegate forwarder exists from the start of the process: its trace waits in the buffer until
// the launch chooses a log level, and then prints between the buffer's first and last lines.
TEST_F(Executable, TheDelegateForwarderReadsItsSwitchAtStartUp) {
    auto file = home_.path() / "trivial.json";
    std::ofstream(file) << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": [{"advance": 0}]})";
    auto run = simulate(file, "QUORVANE_LOG_LEVEL=2 ");
    ASSERT_EQ(run.status, 0) << run.err;
    auto start = run.err.find("Start buffering traces.");
    auto trace =
        run.err.find("Delegate forwarder for info.plist key 'DudIzizozAppDelegateForwarderEnabled' enabled.");
    auto stop = run.err.find("Stop buffering traces, flushed.");
    ASSERT_NE(trace, std::string::npos) << run.err;
    EXPECT_LT(start, trace);
    EXPECT_LT(trace, stop);
    EXPECT_EQ(stop, run.err.rfind("Stop buffering traces, flushed.")) << "flushed once";
}

// Opening the preferences needs the toolbar images, and the settings go to the suite named by the
// bundle identifier: a copy of the agent elsewhere has both only through its own folder.
TEST_F(Executable, MovedAgentFindsItsImagesBesideItAndItsBundleWithin) {
    namespace fs = std::filesystem;
    const fs::path built = QUORVANE_EXECUTABLE;
    auto file = home_.path() / "preferences.json";
    std::ofstream(file)
        << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": [{"menu": "Spaces ..."}]})";
    const std::string noOverride = "QUORVANE_RESOURCES= ";

    fs::create_directories(home_.path() / "moved");
    fs::copy_file(built, home_.path() / "moved" / "quorvane");
    fs::copy(built.parent_path() / "Resources", home_.path() / "moved" / "Resources");
    auto run = simulate(file, noOverride, home_.path() / "moved" / "quorvane");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(scenarioLines(run.out).size(), 2u);
    UserDefaults::resetStandardUserDefaults();
    EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey(UserDefaultsManager::kFirstLaunchKey));

    fs::remove_all(home_.path() / "moved" / "Resources");
    run = simulate(file, noOverride, home_.path() / "moved" / "quorvane");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("Image \"spaces\" not available"), std::string::npos) << run.err;
}

// The usage events enter the measurement library through its analytics interface, after the
// engine's own start-up reports, and each step's are stored before its line is printed: the
// database holds them when the run ends.
TEST_F(Executable, UsageEventsAreStoredInTheMeasurementDatabaseAfterTheStartUpReports) {
    auto file = home_.path() / "measured.json";
    std::ofstream(file) << cyclingScenario(R"({"menu": "Spaces ..."})");

    auto run = simulate(file);
    ASSERT_EQ(run.status, 0) << run.err;
    auto lines = scenarioLines(run.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json::write(lines[1]["events"]), R"(["cycled"])");
    EXPECT_EQ(json::write(lines[2]["events"]), R"(["opened_preferences"])");

    EXPECT_EQ(storedRawEvents(ZDMMeasurementSupportFilePath(ZDMMeasurement::kDatabaseName)),
              (std::vector<StoredRawEvent>{{"_f", "auto"},
                                           {"_s", "auto"},
                                           {"_e", "auto"},
                                           {"cycled", "app"},
                                           {"opened_preferences", "app"}}));
}

TEST_F(Executable, MalformedScenarioExitsWithTwo) {
    auto file = home_.path() / "bad.json";
    std::ofstream(file) << R"({"screens": [{"bounds": [0, 0, 1440]}]})";
    auto run = simulate(file);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("screens[0].bounds: expected 4 numbers"), std::string::npos) << run.err;

    run = simulate(home_.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "quorvane: " + home_.path().string() + ": is not a regular file\n");
}

TEST_F(Executable, AgentEndsCleanlyOnTerminationSignals) {
    for (int signal : {SIGTERM, SIGINT}) {
        // Blocked from the child's start, the signal waits until the agent takes it, however early it
        // is sent.
        const pid_t child = spawnChild({QUORVANE_EXECUTABLE}, {.blockedSignals = {signal}});
        ASSERT_GT(child, 0);
        kill(child, signal);
        const auto status = waitForChild(child);
        ASSERT_TRUE(status && WIFEXITED(*status)) << "signal " << signal;
        EXPECT_EQ(WEXITSTATUS(*status), 0);
    }
    UserDefaults::resetStandardUserDefaults();
    EXPECT_TRUE(UserDefaults::standardUserDefaults()->boolForKey(UserDefaultsManager::kFirstLaunchKey));
    EXPECT_EQ(UserDefaultsManager::loadWorkspaces().size(), 1u);
}

// The agent aborted once its crash reporter is in place leaves a report, which its next run sends.
TEST_F(Executable, AnAbortedAgentsCrashReachesTheCollectorFromItsNextRun) {
    // The reporter's directories are made just before its handlers go in, and the kernel's list of
    // caught signals shows them taken already; the service's line comes once the reporter is enabled.
    const auto errFile = home_.path() / "agent-stderr.txt";
    const pid_t agent =
        spawnChild({"/bin/sh", "-c", "exec '" QUORVANE_EXECUTABLE "' 2>'" + errFile.string() + "'"},
                   {.environment = {"QUORVANE_LOG_LEVEL=4"}});
    ASSERT_GT(agent, 0);
    EXPECT_TRUE(eventually([&] {
        std::ifstream err(errFile);
        const std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
        return text.find("Crashes service has been enabled.") != std::string::npos;
    }));
    kill(agent, SIGABRT);
    const auto status = waitForChild(agent);
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGABRT);

    LocalHttpServer collector;
    auto file = home_.path() / "next.json";
    std::ofstream(file)
        << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": [{"advance": 2}, {"advance": 2}]})";
    auto run = simulate(file, "QUORVANE_LOG_URL='" + collector.url() + "' ");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(scenarioLines(run.out).size(), 3u);

    std::vector<Value> crashLogs;
    for (const auto& log : receivedLogs(collector)) {
        if (log["type"] == "appleError") crashLogs.push_back(log);
    }
    ASSERT_EQ(crashLogs.size(), 1u);
    EXPECT_EQ(crashLogs[0]["osExceptionType"], Value("SIGABRT"));
    EXPECT_EQ(crashLogs[0]["fatal"], Value(true));
}
