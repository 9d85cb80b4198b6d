#pragma once
// One user property as stored and uploaded: who set it, its name, its value and when it was last
// set (seconds since 1970). Immutable, so shared freely between threads.
#include <memory>
#include <string>

#include "measurement/foundation/ZDMValue.h"

class ZDMPBUserAttribute;

class ZDMUserAttribute {
  public:
    virtual ~ZDMUserAttribute() = default;

    // nullptr when the name is not a valid internal user-property name or the value breaks the
    // limits of that name; the validator has logged why, the record adds nothing.
    static std::shared_ptr<ZDMUserAttribute> initWithOrigin(const std::string& origin,
                                                            const std::string& name,
                                                            std::shared_ptr<const ZDMValue> value,
                                                            double lastSetTimestamp);

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    const std::shared_ptr<const ZDMValue>& value() const { return value_; }
    double lastSetTimestamp() const { return lastSetTimestamp_; }
    bool isPublic() const { return !name_.empty() && name_.front() != '_'; }
    // The wire form; an array value carries no value field.
    std::shared_ptr<ZDMPBUserAttribute> protoUserAttribute() const;

  protected:
    // Stores without checks, for the checked initialisers.
    ZDMUserAttribute(std::string origin, std::string name, std::shared_ptr<const ZDMValue> value,
                     double lastSetTimestamp)
        : origin_(std::move(origin)),
          name_(std::move(name)),
          value_(std::move(value)),
          lastSetTimestamp_(lastSetTimestamp) {}
    static bool isValid(const std::string& name, const std::shared_ptr<const ZDMValue>& value);

  private:
    const std::string origin_;
    const std::string name_;
    const std::shared_ptr<const ZDMValue> value_;
    const double lastSetTimestamp_;
};

// The analytics connector's name for the same record.
class ZUDAUserAttribute : public ZDMUserAttribute {
  public:
    static std::shared_ptr<ZUDAUserAttribute> initWithOrigin(const std::string& origin,
                                                             const std::string& name,
                                                             std::shared_ptr<const ZDMValue> value,
                                                             double lastSetTimestamp);

  private:
    using ZDMUserAttribute::ZDMUserAttribute;
};
