#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <string_view>

#include "measurement/audiences/filters/ZDMAudienceFilterMatching.h"
#include "measurement/engine/ZDMMeasurement.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/wire/ZDMPBAccessors.h"

namespace {

constexpr int32_t kMatchTypeIndex = 0;
constexpr int32_t kExpressionIndex = 1;
constexpr int32_t kCaseSensitiveIndex = 2;
constexpr int32_t kExpressionListIndex = 3;

enum MatchType : int32_t {
    kRegularExpression = 1,
    kBeginsWith = 2,
    kEndsWith = 3,
    kContains = 4,
    kExact = 5,
    kInList = 6,
};

Value context(const ZDMPBStringFilter* filter) {
    return filter ? Value(Value::ObjectPtr(ZDMPBStringFilter::initWithMessageInfo(filter->messageInfo())))
                  : Value();
}

void log(int64_t code, const std::string& message, const Value::Array& contexts) {
    ZDMMeasurement::monitor()->logWithContexts(1, code, message, contexts);
}

// Lengths are compared in UTF-16 units, as the platform's text type counts them.
std::u16string utf16(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                         &status);
    std::u16string out(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), length, nullptr, text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                         nullptr, &status);
    return U_SUCCESS(status) ? out : std::u16string();
}

// Full case folding, so that texts which differ only in case (including ones whose folded forms
// change length) compare equal.
std::u16string folded(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(nullptr, 0, text.data(), static_cast<int32_t>(text.size()),
                                         U_FOLD_CASE_DEFAULT, &status);
    std::u16string out(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFoldCase(out.data(), length, text.data(), static_cast<int32_t>(text.size()), U_FOLD_CASE_DEFAULT,
                  &status);
    return U_SUCCESS(status) ? out : std::u16string(text);
}

bool beginsWith(std::u16string_view text, std::u16string_view prefix, bool caseSensitive) {
    return caseSensitive ? text.starts_with(prefix) : folded(text).starts_with(folded(prefix));
}

// The ending case-insensitively: the tail of the expression's own length folds to the same text.
bool endsWith(std::u16string_view text, std::u16string_view suffix, bool caseSensitive) {
    if (caseSensitive) return text.ends_with(suffix);
    if (suffix.size() > text.size()) return false;
    return folded(text.substr(text.size() - suffix.size())) == folded(suffix);
}

bool contains(std::u16string_view text, std::u16string_view part, bool caseSensitive) {
    return caseSensitive ? text.find(part) != std::u16string_view::npos
                         : folded(text).find(folded(part)) != std::u16string::npos;
}

// Case-insensitively: found at the start and of the same length.
bool isExactly(std::u16string_view text, std::u16string_view expected, bool caseSensitive) {
    return caseSensitive ? text == expected
                         : text.size() == expected.size() && beginsWith(text, expected, false);
}

std::optional<bool> searchRegularExpression(const ZDMPBStringFilter* filter,
                                            const ZDMRegularExpression& regex, const std::string& text) {
    Error error;
    const auto found = regex.firstMatch(text, &error);
    if (!error.domain.empty()) {
        log(9004, "Unable to parse regular expression", {context(filter), Value(error.description)});
        return std::nullopt;
    }
    return found.has_value();
}

}  // namespace

bool ZDMValidateStringFilter(const ZDMPBStringFilter* filter, std::unique_ptr<ZDMRegularExpression>* regex) {
    if (!filter || !ZDMPBHasField(filter, kMatchTypeIndex)) {
        log(9000, "String filter has no match type", {context(filter)});
        return false;
    }
    const int32_t matchType = ZDMPBGetInt32(filter, kMatchTypeIndex);
    if (matchType == kInList) {
        if (!ZDMPBGetArray(filter, kExpressionListIndex).value_or(Value::Array()).empty()) return true;
        log(9003, "String filter has no expression list", {context(filter)});
        return false;
    }
    if (matchType == 0) {
        log(9001, "String filter has unknown match type", {context(filter)});
        return false;
    }
    const auto expression = ZDMPBGetString(filter, kExpressionIndex);
    if (!expression) {
        log(9002, "String filter has no expression", {context(filter)});
        return false;
    }
    if (matchType != kRegularExpression) return true;
    Error error;
    auto compiled =
        ZDMRegularExpression::compile(*expression, !ZDMPBGetBool(filter, kCaseSensitiveIndex), &error);
    if (!compiled) {
        log(9004, "Unable to parse regular expression", {context(filter), Value(error.description)});
        return false;
    }
    if (regex) *regex = std::move(compiled);
    return true;
}

bool ZDMIsValidStringFilter(const ZDMPBStringFilter* filter) {
    return ZDMValidateStringFilter(filter);
}

std::optional<bool> ZDMEvaluateStringFilter(const ZDMPBStringFilter* filter, const std::string* value) {
    if (!value) {
        log(9005, "Evaluation string is nil. Audience filter will not be evaluated", {context(filter)});
        return std::nullopt;
    }
    std::unique_ptr<ZDMRegularExpression> regex;
    if (!ZDMValidateStringFilter(filter, &regex)) {
        log(9006, "String filter is invalid. Audience filter will not be evaluated", {context(filter)});
        return std::nullopt;
    }
    const int32_t matchType = ZDMPBGetInt32(filter, kMatchTypeIndex);
    if (matchType == kRegularExpression) return searchRegularExpression(filter, *regex, *value);
    const bool caseSensitive = ZDMPBGetBool(filter, kCaseSensitiveIndex);
    const std::u16string text = utf16(*value);
    if (matchType == kInList) {
        for (const Value& entry : ZDMPBGetArray(filter, kExpressionListIndex).value_or(Value::Array())) {
            if (entry.asString() && isExactly(text, utf16(*entry.asString()), caseSensitive)) return true;
        }
        return false;
    }
    const std::u16string expression = utf16(ZDMPBGetString(filter, kExpressionIndex).value_or(""));
    switch (matchType) {
        case kBeginsWith:
            return beginsWith(text, expression, caseSensitive);
        case kEndsWith:
            return endsWith(text, expression, caseSensitive);
        case kContains:
            return contains(text, expression, caseSensitive);
        case kExact:
            return isExactly(text, expression, caseSensitive);
        default:
            // Types added by the server after this build match nothing rather than everything.
            return false;
    }
}
