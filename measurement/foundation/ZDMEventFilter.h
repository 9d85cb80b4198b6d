#pragma once
// A stored event-filter row; `data` is the encoded event filter message.
#include "measurement/foundation/ZDMAudienceFilter.h"

class ZDMEventFilter final : public ZDMAudienceFilter {
  public:
    ZDMEventFilter(int32_t audienceID, int32_t filterID, std::string eventName, Data data, bool sessionScoped,
                   bool dynamic, bool sequence)
        : ZDMAudienceFilter(audienceID, filterID, std::move(eventName), std::move(data), sessionScoped,
                            dynamic, sequence) {}
    const std::string& eventName() const { return name(); }
};
