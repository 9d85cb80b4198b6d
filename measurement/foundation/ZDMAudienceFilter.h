#pragma once
// A stored audience filter row, event or property: its keys, the name of what it applies to, the
// encoded filter message and the flags that decide whether its match times are kept. Not made on
// its own, only as one of the two kinds; immutable, so shared freely between threads.
#include <cstdint>
#include <string>

#include "platform/foundation/Data.h"

class ZDMAudienceFilter {
  public:
    virtual ~ZDMAudienceFilter() = default;
    int32_t audienceID() const { return audienceID_; }
    int32_t filterID() const { return filterID_; }
    bool isSessionScoped() const { return sessionScoped_; }
    bool isDynamic() const { return dynamic_; }
    bool isSequence() const { return sequence_; }
    const Data& data() const { return data_; }

  protected:
    ZDMAudienceFilter(int32_t audienceID, int32_t filterID, std::string name, Data data, bool sessionScoped,
                      bool dynamic, bool sequence)
        : audienceID_(audienceID),
          filterID_(filterID),
          name_(std::move(name)),
          data_(std::move(data)),
          sessionScoped_(sessionScoped),
          dynamic_(dynamic),
          sequence_(sequence) {}
    const std::string& name() const { return name_; }

  private:
    const int32_t audienceID_;
    const int32_t filterID_;
    const std::string name_;
    const Data data_;
    const bool sessionScoped_;
    const bool dynamic_;
    const bool sequence_;
};
