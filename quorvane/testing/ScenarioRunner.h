#pragma once
// What the scenario tests share, whether they play a scenario in this process or run the agent on
// it: what a run printed (one JSON object a line on stdout) and how it ended.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/JSON.h"

struct ScenarioRun {
    int status;  // the exit status; -1 for a process that did not exit by itself
    std::string out, err;
};

// A line that is no JSON reads as a null value, so that a test still sees how many lines came.
inline std::vector<Value> scenarioLines(const std::string& out) {
    std::vector<Value> parsed;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) parsed.push_back(json::parse(line).value_or(Value()));
    return parsed;
}

// Runs `executable --simulate file` through the shell. `environment` holds assignments put in front
// of the command, e.g. "NAME='value' "; stderr passes through a file in `scratch`, since a pipe of
// its own could fill while this side waits on stdout.
inline ScenarioRun runScenarioExecutable(const std::filesystem::path& executable,
                                         const std::filesystem::path& file, const std::string& environment,
                                         const std::filesystem::path& scratch) {
    auto errFile = scratch / "stderr.txt";
    std::string command = environment + "'" + executable.string() + "' --simulate '" + file.string() +
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
