#pragma once
// Shared by the wire tests: golden bytes made by protoc from the text fixtures (independently of
// our encoder), capture of stdout and NSLog lines, and small message builders.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/wire/ZDMPBAccessors.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/FileLocations.h"
#include "platform/foundation/SystemLog.h"

inline Data golden(const std::string& name) {
    auto bytes = FileLocations::readFile(std::string(MEASUREMENT_WIRE_GOLDEN) + "/" + name + ".bin");
    EXPECT_TRUE(bytes && !bytes->empty()) << "no golden bytes for " << name;
    return bytes ? *bytes : Data();
}

// What the code under test prints on stdout while `body` runs.
template <class Body>
std::string stdoutOf(Body&& body) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// NSLog lines while it lives.
class LoggedLines {
  public:
    LoggedLines()
        : capture_([this](SystemLogLevel, const std::string& line) {
              std::lock_guard lock(mutex_);
              lines_.push_back(line);
          }) {}
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    SystemLogCapture capture_;
};

inline Value object(std::shared_ptr<const Object> o) {
    return Value(std::move(o));
}

inline std::string hex(const std::optional<Data>& data) {
    if (!data) return "(nil)";
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : *data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Appends a varint, a key or a length-delimited field: for hand-made inputs.
inline void putVarint(Data& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
}
inline void putKey(Data& out, uint32_t tag, uint32_t wireType) {
    putVarint(out, (uint64_t{tag} << 3) | wireType);
}
inline void putBytes(Data& out, uint32_t tag, const Data& bytes) {
    putKey(out, tag, 2);
    putVarint(out, bytes.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
}
