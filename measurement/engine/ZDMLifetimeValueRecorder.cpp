#include "measurement/engine/ZDMLifetimeValueRecorder.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "measurement/engine/ZDMEngineLog.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/foundation/ZDMUserAttribute.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/Unicode.h"
#include "platform/foundation/UnicodeText.h"

using zdm_engine::log;

namespace {
constexpr int kMicroDigits = 6;
constexpr int64_t kMicrosPerUnit = 1000000;
// 2^63, exactly representable: every double below it and at or above its negation converts.
constexpr double kInt64Bound = 9223372036854775808.0;
constexpr uint64_t kInt64MagnitudeLimit = uint64_t{1} << 63;

std::optional<int64_t> signedFromMagnitude(uint64_t magnitude, bool negative) {
    if (negative) {
        if (magnitude > kInt64MagnitudeLimit) return std::nullopt;
        return magnitude == kInt64MagnitudeLimit ? std::numeric_limits<int64_t>::min()
                                                 : -static_cast<int64_t>(magnitude);
    }
    if (magnitude >= kInt64MagnitudeLimit) return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

// A double times 10^6, rounded half away from zero. The app wrote a decimal amount, so the decimal
// the double stands for (its shortest round-trip text) is shifted and rounded, and its integer part
// is checked against the 64-bit range as text: 1.0000005 gives 1000001, where the product of
// doubles would have given 1000000.4999… and lost the half micro-unit.
std::optional<int64_t> microsRoundedHalfAwayFromZero(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    std::string_view rest(text, written.ptr - text);
    const bool negative = rest.front() == '-';
    if (negative) rest.remove_prefix(1);
    const size_t e = rest.find('e');
    std::string digits;
    for (char c : rest.substr(0, e))
        if (c != '.') digits += c;
    std::string_view exponentText = rest.substr(e + 1);
    if (exponentText.front() == '+') exponentText.remove_prefix(1);
    int exponent = 0;
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

    // The value is d.ddd × 10^exponent; after the shift its integer part has this many digits.
    const int integerDigits = exponent + 1 + kMicroDigits;
    if (integerDigits > std::numeric_limits<uint64_t>::digits10 + 1) return std::nullopt;
    std::string integer = "0";
    char firstDroppedDigit = '0';
    if (integerDigits > 0) {
        integer = digits.substr(0, std::min<size_t>(integerDigits, digits.size()));
        integer.append(integerDigits - integer.size(), '0');
        if (static_cast<size_t>(integerDigits) < digits.size()) firstDroppedDigit = digits[integerDigits];
    } else if (integerDigits == 0) {
        firstDroppedDigit = digits.front();
    }
    uint64_t magnitude = 0;
    const auto parsed = std::from_chars(integer.data(), integer.data() + integer.size(), magnitude);
    if (parsed.ec != std::errc()) return std::nullopt;
    if (firstDroppedDigit >= '5') {
        if (magnitude == std::numeric_limits<uint64_t>::max()) return std::nullopt;
        ++magnitude;
    }
    return signedFromMagnitude(magnitude, negative);
}

// An in-app purchase's value counts as it stands: a double loses its fraction.
std::optional<int64_t> truncated(const ZDMValue& value) {
    if (value.isInt64()) return value.int64Value();
    const double whole = std::trunc(value.doubleValue());
    if (!(whole >= -kInt64Bound && whole < kInt64Bound)) return std::nullopt;
    return static_cast<int64_t>(whole);
}

std::optional<int64_t> micros(const ZDMValue& value) {
    if (value.isDouble()) return microsRoundedHalfAwayFromZero(value.doubleValue());
    int64_t product = 0;
    if (__builtin_mul_overflow(value.int64Value(), kMicrosPerUnit, &product)) return std::nullopt;
    return product;
}

std::shared_ptr<const ZDMValue> parameter(const ZDMEvent& event, const char* key) {
    return event.parameters()[key].objectAs<ZDMValue>();
}
}  // namespace

bool ZDMLifetimeValueRecorder::isPurchaseEvent(const ZDMEvent& event) {
    return event.name() == "_iap" || isEcommercePurchaseEvent(event);
}

bool ZDMLifetimeValueRecorder::isEcommercePurchaseEvent(const ZDMEvent& event) {
    const std::string& name = event.name();
    return name == "ecommerce_purchase" || name == "purchase" || name == "refund";
}

std::optional<int64_t> ZDMLifetimeValueRecorder::amountForEvent(const ZDMEvent& event,
                                                                const ZDMValue& value) {
    if (!isEcommercePurchaseEvent(event)) return truncated(value);
    const auto amount = micros(value);
    // Never the most negative int64, whose last digits (…808) neither a whole number of micro-units
    // nor a double's 17 significant digits can reach, so the negation is safe.
    if (!amount || event.name() != "refund") return amount;
    return -*amount;
}

bool ZDMLifetimeValueRecorder::recordLifetimeValueToDatabase(ZDMDatabase& database, const ZDMEvent& event) {
    if (!isPurchaseEvent(event)) return true;
    const auto currency = parameter(event, "currency");
    const auto code = currency && currency->isString() ? currency->stringValue() : std::nullopt;
    // Three characters as the platform counts them, in UTF-16 units.
    if (!code || utf16Length(*code) != 3) {
        log(1, 22000, "Cannot record transaction with invalid currency code", event.parameters()["currency"]);
        return true;
    }
    const auto value = parameter(event, "value");
    if (!value || !(value->isDouble() || value->isInt64())) {
        log(1, 22001, "Cannot record transaction with invalid transaction value",
            event.parameters()["value"]);
        return true;
    }
    const auto amount = amountForEvent(event, *value);
    if (!amount) {
        log(1, 22002, "Cannot record transaction with value that is out of bounds",
            event.parameters()["value"]);
        return false;
    }

    const std::string name = "_ltv_" + uppercaseString(*code);
    Error error;
    const auto existing = database.allLifetimeValueUserAttributes(&error);
    if (!existing) {
        log(1, 22003, "Failed to query all Lifetime Value User properties. Error", Value(error.description));
        return false;
    }
    std::shared_ptr<ZDMUserAttribute> stored;
    for (const auto& attribute : *existing)
        if (attribute->name() == name) stored = attribute;
    int64_t total = *amount;
    // A total past the 64-bit range would wrap into a wrong sign; it is refused like an amount that is.
    if (stored && stored->value() && __builtin_add_overflow(stored->value()->int64Value(), *amount, &total)) {
        log(1, 22002, "Cannot record transaction with value that is out of bounds",
            event.parameters()["value"]);
        return false;
    }
    const auto limit = static_cast<size_t>(ZDMMeasurement::remoteConfig()->maxTrackedCurrencies());
    if (!stored && !existing->empty() && existing->size() >= limit) {
        const std::string& oldest = existing->back()->name();
        if (Error deleteError;
            !database.deleteUserAttributeWithName(oldest, &deleteError) && !deleteError.description.empty()) {
            log(1, 22004, "Unable to delete Lifetime Value User property. Name, error", Value(oldest),
                Value(deleteError.description));
            return false;
        }
    }
    // "_ltv_" and three characters, however they upper-case, make a valid internal name.
    const auto attribute = ZDMUserAttribute::initWithOrigin("auto", name, ZDMValue::initWithInt64(total),
                                                            Clock::current().now());
    if (Error writeError; !database.updateUserAttribute(attribute.get(), &writeError)) {
        if (!writeError.description.empty())
            log(1, 22005, "Unable to upsert Lifetime Value User Attribute in database. Name, error",
                Value(name), Value(writeError.description));
        return false;
    }
    log(7, 22006, "Lifetime value has been updated in database", Value(name), Value(total));
    return true;
}
