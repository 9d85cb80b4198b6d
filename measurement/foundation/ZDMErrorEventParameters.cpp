#include "measurement/foundation/ZDMErrorEventParameters.h"

#include <memory>
#include <new>
#include <optional>

#include "measurement/foundation/ZDMInternalEventLog.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/Unicode.h"
#include "platform/foundation/ValueClassName.h"

namespace {
constexpr const char* kErrorCodeKey = "_err";
constexpr const char* kErrorValueKey = "_ev";
constexpr const char* kErrorLengthKey = "_el";
constexpr int64_t kArrayErrorLimit = 40;

Value measurementValue(std::shared_ptr<const ZDMValue> value) {
    return Value(std::shared_ptr<const Object>(std::move(value)));
}

// The text behind a value, whether held plainly or as a measurement value.
const Value& unwrapped(const Value& value) {
    if (auto measurement = value.objectAs<ZDMValue>()) return measurement->value();
    return value;
}

void appendUtf8(std::string& out, char32_t scalar) {
    if (scalar < 0x80) {
        out += char(scalar);
    } else if (scalar < 0x800) {
        out += char(0xC0 | scalar >> 6);
        out += char(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        out += char(0xE0 | scalar >> 12);
        out += char(0x80 | (scalar >> 6 & 0x3F));
        out += char(0x80 | (scalar & 0x3F));
    } else {
        out += char(0xF0 | scalar >> 18);
        out += char(0x80 | (scalar >> 12 & 0x3F));
        out += char(0x80 | (scalar >> 6 & 0x3F));
        out += char(0x80 | (scalar & 0x3F));
    }
}

// UTF-32 little-endian back to text; nullopt for a code unit that is no scalar value.
std::optional<std::string> stringFromUTF32(const uint8_t* bytes, size_t count) {
    std::string out;
    for (size_t i = 0; i + 4 <= count; i += 4) {
        const char32_t scalar = char32_t(bytes[i]) | char32_t(bytes[i + 1]) << 8 |
                                char32_t(bytes[i + 2]) << 16 | char32_t(bytes[i + 3]) << 24;
        if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) return std::nullopt;
        appendUtf8(out, scalar);
    }
    return out;
}

// The first `limit` scalar values and "...", cut in one buffer so no character is split; on failure
// the cut falls back to UTF-16 units.
std::string trimmedText(const std::string& text, int64_t limit) {
    const size_t bytes = (size_t(limit) + 3) * 4;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]);
    if (!buffer) {
        ZDMMonitor::sharedMonitor()->logWithLevel(2, 18000, "Failed to malloc bytes for trimming. Bytes",
                                                  Value(bytes));
        return prefixOfUtf16Length(text, size_t(limit)) + "...";
    }
    zdm_getUTF32Bytes(text, buffer.get(), size_t(limit) * 4);
    zdm_getUTF32Bytes("...", buffer.get() + size_t(limit) * 4, 12);
    if (auto rebuilt = stringFromUTF32(buffer.get(), bytes)) return *rebuilt;
    ZDMMonitor::sharedMonitor()->logWithLevel(2, 18001, "Trimmed UTF32 string was nil");
    return prefixOfUtf16Length(text, size_t(limit)) + "...";
}

std::string errorText(const Value& name) {
    if (name.isNull()) return "(nil)";
    if (const std::string* text = name.asString()) return *text;
    return classNameOf(name);
}

int64_t errorLength(const Value& value) {
    const Value& plain = unwrapped(value);
    if (const std::string* text = plain.asString()) return int64_t(zdm_UTF32Length(*text));
    if (const Value::Array* array = plain.asArray()) return int64_t(array->size());
    return 0;
}

void logErrorEventParameters(const Dictionary& parameters) {
    ZDMLogInternalEvent("auto", "_err", parameters);
}
}  // namespace

void ZDMAddErrorEventParameters(Dictionary& parameters, const Value& name, int64_t limit,
                                const Value& value) {
    if (parameters.contains(kErrorValueKey) || parameters.contains(kErrorLengthKey)) return;
    std::string text = errorText(name);
    if (limit >= 0 && zdm_UTF32Length(text) > size_t(limit)) text = trimmedText(text, limit);
    parameters.set(kErrorValueKey,
                   measurementValue(ZDMValue::initWithValueType(ZDMValue::kTypeString, text)));
    if (!value.isNull())
        parameters.set(kErrorLengthKey, measurementValue(ZDMValue::initWithInt64(errorLength(value))));
}

void ZDMSetErrorCodeIfAbsent(Dictionary& parameters, int64_t code) {
    if (!parameters.contains(kErrorCodeKey))
        parameters.set(kErrorCodeKey, measurementValue(ZDMValue::initWithInt64(code)));
}

void ZDMAddErrorParametersIfAbsent(Dictionary& parameters, int64_t code, const Value& name, int64_t limit,
                                   const Value& value) {
    if (parameters.contains(kErrorValueKey) || parameters.contains(kErrorLengthKey) ||
        parameters.contains(kErrorCodeKey))
        return;
    ZDMSetErrorCodeIfAbsent(parameters, code);
    ZDMAddErrorEventParameters(parameters, name, limit, value);
}

void ZDMAddArrayParameterError(Dictionary& parameters, uint64_t failureCode, const std::string& parameterName,
                               const std::string& eventName) {
    switch (failureCode) {
        case 10:
            ZDMAddErrorParametersIfAbsent(parameters, 21, Value(eventName), kArrayErrorLimit);
            break;
        case 11:
            ZDMAddErrorParametersIfAbsent(parameters, 20, Value(parameterName), kArrayErrorLimit);
            break;
        case 12:
            ZDMAddErrorParametersIfAbsent(parameters, 17, Value(parameterName), kArrayErrorLimit);
            break;
        case 13:
            ZDMAddErrorParametersIfAbsent(parameters, 22, Value(parameterName), kArrayErrorLimit);
            break;
        default:
            break;
    }
}

void ZDMLogErrorEvent(int64_t code) {
    if (code == 0) return;
    logErrorEventParameters(Dictionary{{kErrorCodeKey, Value(code)}});
}

void ZDMLogErrorEventWithParameter(int64_t code, const Value& name, int64_t limit, const Value& value) {
    if (code == 0) return;
    Dictionary parameters{{kErrorCodeKey, Value(code)}};
    const std::string* text = unwrapped(value).asString();
    const bool withValue =
        !value.isNull() &&
        (code == 4 || code == 7 || (text && limit >= 0 && zdm_UTF32Length(*text) > size_t(limit)));
    ZDMAddErrorEventParameters(parameters, name, limit, withValue ? value : Value());
    logErrorEventParameters(parameters);
}
