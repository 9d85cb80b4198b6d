#pragma once
// The lifetime purchase total per currency: one user property "_ltv_<CURRENCY>" whose value is the
// sum of the purchases in micro-units of that currency (an in-app purchase's value counts as it
// stands). At most the configuration's number of currencies is kept; a new one pushes out the one
// set longest ago. Runs on the worker queue, inside the event write's transaction.
#include <cstdint>
#include <optional>

class ZDMDatabase;
class ZDMEvent;
class ZDMValue;

class ZDMLifetimeValueRecorder {
  public:
    static bool isPurchaseEvent(const ZDMEvent& event);
    static bool isEcommercePurchaseEvent(const ZDMEvent& event);
    // YES when the event adds nothing or its amount was recorded, also when its currency or value is
    // unusable (the event itself is still worth storing); NO when the amount is out of bounds or the
    // store failed, which rolls the event's write back.
    static bool recordLifetimeValueToDatabase(ZDMDatabase& database, const ZDMEvent& event);

    // What `value` adds to the total for a purchase of that kind: micro-units rounded half away from
    // zero (negated for a refund), an in-app purchase's value truncated; nullopt when the result does
    // not fit 64 bits.
    static std::optional<int64_t> amountForEvent(const ZDMEvent& event, const ZDMValue& value);
};
