#pragma once
// A stored property-filter row; `data` is the encoded property filter message.
#include "measurement/foundation/ZDMAudienceFilter.h"

class ZDMPropertyFilter final : public ZDMAudienceFilter {
  public:
    ZDMPropertyFilter(int32_t audienceID, int32_t filterID, std::string propertyName, Data data,
                      bool sessionScoped, bool dynamic, bool sequence)
        : ZDMAudienceFilter(audienceID, filterID, std::move(propertyName), std::move(data), sessionScoped,
                            dynamic, sequence) {}
    const std::string& propertyName() const { return name(); }
};
