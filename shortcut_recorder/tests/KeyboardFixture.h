#pragma once
// Tests of the library start from the US layout with nothing injected, and read every trace line
// (debug lines too) that the code under test logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/carbon/TextInputSources_simulated.h"
#include "platform/foundation/SystemTrace.h"

class TraceRecorder {
  public:
    TraceRecorder()
        : debugBefore_(setTraceDebugLoggingEnabled(true)), capture_([this](const TraceLine& line) {
              std::lock_guard lock(mutex_);
              lines_.push_back(line);
          }) {}
    ~TraceRecorder() { setTraceDebugLoggingEnabled(debugBefore_); }

    std::vector<TraceLine> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    size_t count(const std::string& message) {
        auto all = lines();
        return std::count_if(all.begin(), all.end(),
                             [&](const TraceLine& line) { return line.message == message; });
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    bool debugBefore_;
    std::mutex mutex_;
    std::vector<TraceLine> lines_;
    TraceLogCapture capture_;
};

class KeyboardTest : public testing::Test {
  protected:
    KeyboardTest() { SimulatedTextInput::reset(); }
    ~KeyboardTest() override { SimulatedTextInput::reset(); }

    TraceRecorder trace;
};
