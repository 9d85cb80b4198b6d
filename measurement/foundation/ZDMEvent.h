#pragma once
// One measurement event as the engine filters, counts, stores and bundles it. Construction checks
// the origin and name (nil when refused) and cleans the parameters through the sanitiser; flags
// travel as reserved parameters ("_c", "_r", "_dbg"). The record converts to and from the wire
// message Event. Only the parameter dictionary changes after construction; an event belongs to one
// queue at a time.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ZDMPBEvent;
class ZDMPBEventParam;

class ZDMEvent {
  public:
    virtual ~ZDMEvent() = default;

    // `parameters` may hold ZDMValues, strings, numbers and arrays. nullptr when the origin or the
    // name is refused (the validator has logged why).
    static std::shared_ptr<ZDMEvent> initWithOrigin(const std::string& origin, bool isPublic,
                                                    const std::string& name, double timestamp,
                                                    double previousTimestamp, const Dictionary& parameters);
    // From the wire form: timestamps in milliseconds, the origin from the "_o" parameter; arrays and
    // floats are dropped. nullptr without a usable "_o" or when construction refuses the event.
    static std::shared_ptr<ZDMEvent> initWithEventProto(const ZDMPBEvent* proto);

    // New events built again through the internal rules (public flag NO).
    std::shared_ptr<ZDMEvent> copy() const;
    std::shared_ptr<ZDMEvent> copyWithPreviousTimestamp(double previousTimestamp) const;
    std::shared_ptr<ZDMEvent> copyWithParameters(const Dictionary& parameters) const;

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    // Name to ZDMValue.
    const Dictionary& parameters() const { return parameters_; }
    // Whether the event was built as a public one; copies are not.
    bool isPublic() const { return isPublic_; }

    bool isConversion() const;
    // YES only when "value" and "currency" pass their check; NO on a conversion records "_err" 10.
    void setConversion(bool conversion);
    bool isRealtime() const;
    void setRealtime(bool realtime);
    bool isDebug() const;
    void setDebug(bool debug);
    // Conversions and ad impressions must carry a valid value and currency.
    bool shouldValidateParams() const;

    // Default parameters under the event's own (an own parameter wins).
    void applyParameters(const Dictionary& defaults);
    // Adds "_si" (required), "_sc" and "_sn" unless the event has any screen parameter already.
    bool addScreenParameters(const Dictionary& screenParameters);

    std::shared_ptr<ZDMPBEvent> protoEvent() const;

  protected:
    ZDMEvent() = default;
    // The designated initialiser's steps on a fresh object; false when the event is refused.
    bool initialize(const std::string& origin, bool isPublic, const std::string& name, double timestamp,
                    double previousTimestamp, const Dictionary& parameters);

  private:
    bool hasInt64One(std::string_view key) const;
    void setFlag(const char* key, bool on);
    std::shared_ptr<ZDMPBEventParam> eventParam(const std::string& name, const Value& value,
                                                bool nested) const;

    std::string origin_;
    std::string name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    Dictionary parameters_;
    bool isPublic_ = false;
};

// The analytics connector's kind of event, with nothing of its own.
class ZADERodez final : public ZDMEvent {
  public:
    static std::shared_ptr<ZADERodez> initWithOrigin(const std::string& origin, bool isPublic,
                                                     const std::string& name, double timestamp,
                                                     double previousTimestamp, const Dictionary& parameters);
};

// Predicates over events.
bool ZDMIsErrorEvent(const ZDMEvent* event);
bool ZDMIsSubscriptionPurchaseEvent(const ZDMEvent* event);
// Items over all array parameters; 0 for no event.
int64_t ZDMEventArrayParameterItemCount(const ZDMEvent* event);
