#pragma once
// Bytes a bundle ships under a name (an asset catalog's data set): the regular file
// "<resourcePath>/<name>.data". Assets are small; anything larger than 16 MiB is no asset.
#include <memory>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Data.h"

class NSDataAsset {
  public:
    // Null when the bundle has no readable asset of that name.
    static std::shared_ptr<NSDataAsset> initWithName(const std::string& name, const Bundle& bundle);

    const std::string& name() const { return name_; }
    const Data& data() const { return data_; }

    NSDataAsset(std::string name, Data data) : name_(std::move(name)), data_(std::move(data)) {}

  private:
    std::string name_;
    Data data_;
};
