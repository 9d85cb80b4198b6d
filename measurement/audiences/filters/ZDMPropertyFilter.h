#pragma once
// One stored property-filter row: its keys, the user property name it applies to and the encoded filter
// message. Immutable once made.
#include <string>

#include "measurement/audiences/filters/ZDMAudienceFilter.h"
#include "platform/foundation/Data.h"

class ZDMPropertyFilter : public ZDMAudienceFilter {
  public:
    ZDMPropertyFilter(int32_t audienceID, int32_t filterID, std::string propertyName, Data data,
                      bool sessionScoped, bool dynamic, bool sequence)
        : audienceID_(audienceID),
          filterID_(filterID),
          propertyName_(std::move(propertyName)),
          data_(std::move(data)),
          sessionScoped_(sessionScoped),
          dynamic_(dynamic),
          sequence_(sequence) {}

    int32_t audienceID() const override { return audienceID_; }
    int32_t filterID() const override { return filterID_; }
    const std::string& propertyName() const { return propertyName_; }
    const Data& data() const { return data_; }
    bool isSessionScoped() const override { return sessionScoped_; }
    bool isDynamic() const override { return dynamic_; }
    bool isSequence() const override { return sequence_; }

  private:
    const int32_t audienceID_;
    const int32_t filterID_;
    const std::string propertyName_;
    const Data data_;
    const bool sessionScoped_;
    const bool dynamic_;
    const bool sequence_;
};
