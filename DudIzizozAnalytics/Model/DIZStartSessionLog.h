#pragma once
// Announces a new session; its own sid is the new session's id, which the session tracker never
// overwrites.
#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"

inline constexpr const char* kDIZStartSessionLogType = "startSession";

class DIZStartSessionLog : public DIZAbstractLog, public DIZNoAutoAssignSessionIdLog {
  public:
    DIZStartSessionLog() { setType(kDIZStartSessionLogType); }

    bool isEqual(const DIZAbstractLog& other) const override {
        return dynamic_cast<const DIZStartSessionLog*>(&other) && DIZAbstractLog::isEqual(other);
    }
    std::string archiveClassName() const override { return "DIZStartSessionLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZStartSessionLog", "DIZAbstractLog", "NSObject"};
    }
};
