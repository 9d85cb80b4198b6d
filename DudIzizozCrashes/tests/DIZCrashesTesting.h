#pragma once
// Support shared by the crash service's tests.
#include <memory>
#include <vector>

#include "DudIzizozCrashes/DIZCrashes.h"

// Makes real reporters (their files live in the test's home) but only records the enabling, which
// would install this process's crash handlers.
class RecordingProvider : public DIZCrashReporterProvider {
  public:
    std::shared_ptr<DZCrashReporter> makeCrashReporter(
        std::shared_ptr<DZCrashReporterConfig> config) override {
        configs.push_back(config);
        return DIZCrashReporterProvider::makeCrashReporter(std::move(config));
    }
    bool enableCrashReporter(DZCrashReporter&, Error*) override {
        ++enablings;
        return true;
    }
    bool isDebuggerAttached() override { return debuggerAttached; }

    std::vector<std::shared_ptr<DZCrashReporterConfig>> configs;
    int enablings = 0;
    bool debuggerAttached = false;
};
