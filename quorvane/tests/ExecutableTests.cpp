#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/foundation/JSON.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/network/testing/LocalHttpServer.h"
#include "quorvane/UserDefaultsManager.h"
#include "testing/ChildProcess.h"

namespace {
struct Outcome {
    int status;
    std::string out, err;
};

class Executable : public ::testing::Test {
  protected:
    // `environment`: assignments put in front of the command, e.g. "NAME='value' ".
    Outcome simulate(const std::filesystem::path& file, const std::string& environment = "") {
        auto errFile = home_.path() / "stderr.txt";
        std::string command = environment + std::string(QUORVANE_EXECUTABLE) + " --simulate '" + file.string() +
                              "' 2>'" + errFile.string() + "'";
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        int status = pclose(pipe);
        std::ifstream errStream(errFile);
        std::string err((std::istreambuf_iterator<char>(errStream)), std::istreambuf_iterator<char>());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err};
    }

    static std::vector<Value> lines(const std::string& out) {
        std::vector<Value> parsed;
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);)
            parsed.push_back(json::parse(line).value_or(Value()));
        return parsed;
    }

    TestHome home_;
};
}  // namespace

TEST_F(Executable, DemoShowsCyclingAndResize) {
    auto run = simulate(std::filesystem::path(QUORVANE_SCENARIOS) / "demo.json");
    ASSERT_EQ(run.status, 0) << run.err;
    auto out = lines(run.out);
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

// The advance step waits for the request its flush timer started, so the log is there on exit.
TEST_F(Executable, LogUrlDeliversTheStartServiceLogToALocalCollector) {
    LocalHttpServer collector;
    auto file = home_.path() / "flush.json";
    std::ofstream(file) << R"({"screens": [{"bounds": [0, 0, 1440, 900]}], "steps": [{"advance": 7}]})";

    auto run = simulate(file, "QUORVANE_LOG_URL='" + collector.url() + "' ");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines(run.out).size(), 2u);

    auto received = collector.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].target, "/logs?api-version=1.0.0");
    // The server has inflated a gzip body; either way it is the batch's JSON.
    auto batch = json::parse(received[0].body).value_or(Value());
    ASSERT_TRUE(batch["logs"].asArray()) << received[0].body;
    ASSERT_EQ(batch["logs"].asArray()->size(), 1u);
    const Value& log = (*batch["logs"].asArray())[0];
    EXPECT_EQ(log["type"].stringOr(""), "startService");
    EXPECT_EQ(json::write(log["services"]), R"(["Crashes","Analytics"])");
    EXPECT_EQ(log["isDidOzodozudaEnabled"].asBool(), false);
}

TEST_F(Executable, MalformedScenarioExitsWithTwo) {
    auto file = home_.path() / "bad.json";
    std::ofstream(file) << R"({"screens": [{"bounds": [0, 0, 1440]}]})";
    auto run = simulate(file);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(run.err.find("screens[0].bounds: expected 4 numbers"), std::string::npos) << run.err;
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
