#pragma once
// Records what the client logs, for the length of one test, and puts the logger back afterwards.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/dispatch/DispatchQueue.h"

class DIZLogCapture {
  public:
    struct Entry {
        DIZLogLevel level;
        std::string tag;
        std::string function;
        std::string text;
    };

    DIZLogCapture() {
        DIZLogger::setLogHandler([this](const DIZLogMessageProvider& provider, DIZLogLevel level,
                                        const std::string& tag, const char*, const char* function, uint32_t) {
            std::lock_guard guard(mutex_);
            entries_.push_back({level, tag, function, provider ? provider() : ""});
        });
    }
    // The handler is put back before draining: a message still on the logger queue then finishes
    // with this capture alive, and none can reach it afterwards.
    ~DIZLogCapture() {
        DIZLogger::setLogHandler(DIZLogger::defaultLogHandler());
        drain();
        DIZLogger::setCurrentLogLevel(DIZLogLevel::Assert);
        DIZLogger::setIsUserDefinedLogLevel(false);
    }

    static void drain() {
        DIZLogger::loggerQueue()->sync([] {});
    }

    std::vector<Entry> entries() {
        drain();
        std::lock_guard guard(mutex_);
        return entries_;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const auto& e : entries()) out.push_back(e.text);
        return out;
    }
    bool contains(const std::string& text) {
        auto all = texts();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    const Entry* find(const std::string& text) {
        snapshot_ = entries();
        auto it =
            std::find_if(snapshot_.begin(), snapshot_.end(), [&](const Entry& e) { return e.text == text; });
        return it == snapshot_.end() ? nullptr : &*it;
    }

  private:
    std::mutex mutex_;
    std::vector<Entry> entries_;
    std::vector<Entry> snapshot_;
};
