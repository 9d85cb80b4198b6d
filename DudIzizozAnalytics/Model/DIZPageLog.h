#pragma once
// A page view: a name and string properties, of type "page".
#include "DudIzizozAnalytics/Model/DIZLogWithNameAndProperties.h"

inline constexpr const char* kDIZPageLogType = "page";

class DIZPageLog : public DIZLogWithNameAndProperties {
  public:
    DIZPageLog() { setType(kDIZPageLogType); }

    bool isEqual(const DIZAbstractLog& other) const override {
        return dynamic_cast<const DIZPageLog*>(&other) && DIZLogWithNameAndProperties::isEqual(other);
    }
    std::string archiveClassName() const override { return "DIZPageLog"; }
    std::vector<std::string> archiveClassHierarchy() const override { return hierarchyOf("DIZPageLog"); }
};
