#pragma once
// One stored audience result row: the encoded current and previous result messages, which only the
// audience code reads. Empty previous results stand for none.
#include <cstdint>

#include "platform/foundation/Data.h"

class ZDMFilterResult {
  public:
    ZDMFilterResult(int32_t audienceID, Data currentResults, Data previousResults)
        : audienceID_(audienceID),
          currentResults_(std::move(currentResults)),
          previousResults_(std::move(previousResults)) {}

    int32_t audienceID() const { return audienceID_; }
    const Data& currentResults() const { return currentResults_; }
    const Data& previousResults() const { return previousResults_; }

  private:
    const int32_t audienceID_;
    const Data currentResults_;
    const Data previousResults_;
};
