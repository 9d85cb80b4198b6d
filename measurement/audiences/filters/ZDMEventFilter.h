#pragma once
// One stored event-filter row: its keys, the event name it applies to and the encoded filter
// message. Immutable once made.
#include <string>

#include "measurement/audiences/filters/ZDMAudienceFilter.h"
#include "platform/foundation/Data.h"

class ZDMEventFilter : public ZDMAudienceFilter {
  public:
    ZDMEventFilter(int32_t audienceID, int32_t filterID, std::string eventName, Data data, bool sessionScoped,
                   bool dynamic, bool sequence)
        : audienceID_(audienceID),
          filterID_(filterID),
          eventName_(std::move(eventName)),
          data_(std::move(data)),
          sessionScoped_(sessionScoped),
          dynamic_(dynamic),
          sequence_(sequence) {}

    int32_t audienceID() const override { return audienceID_; }
    int32_t filterID() const override { return filterID_; }
    const std::string& eventName() const { return eventName_; }
    const Data& data() const { return data_; }
    bool isSessionScoped() const override { return sessionScoped_; }
    bool isDynamic() const override { return dynamic_; }
    bool isSequence() const override { return sequence_; }

  private:
    const int32_t audienceID_;
    const int32_t filterID_;
    const std::string eventName_;
    const Data data_;
    const bool sessionScoped_;
    const bool dynamic_;
    const bool sequence_;
};
