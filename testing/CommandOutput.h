#pragma once
// Runs a shell command of a test (a system tool checking our output: gzip, md5sum, protoc) and
// answers what it printed on stdout followed by "|exit=<status>", so one comparison checks both.
#include <cstdio>
#include <string>

inline std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return "|popen failed";
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    return out + "|exit=" + std::to_string(pclose(pipe));
}
