#pragma once
// What the timestamps cache needs to know of a stored audience filter row, event or property.
#include <cstdint>

class ZDMAudienceFilter {
  public:
    virtual ~ZDMAudienceFilter() = default;
    virtual int32_t audienceID() const = 0;
    virtual int32_t filterID() const = 0;
    virtual bool isSessionScoped() const = 0;
    virtual bool isDynamic() const = 0;
    virtual bool isSequence() const = 0;
};
