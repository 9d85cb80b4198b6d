#include "measurement/interpreter/ZDMPStringCommandEvaluator.h"

#include <unicode/ustring.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "measurement/interpreter/ZDMPArrayValue.h"
#include "measurement/interpreter/ZDMPConversions.h"
#include "measurement/interpreter/ZDMPEvaluator.h"
#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "measurement/interpreter/ZDMPRegularExpression.h"
#include "measurement/interpreter/ZDMPRunBudget.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/SharedInstance.h"

namespace {

using Text = const std::u16string&;
using List = const ZDMPValueList&;
using Scope = const ZDMPScopeRef&;

constinit SharedInstance<ZDMPStringCommandEvaluator> sharedEvaluator(TestReset::keep);

constexpr double kInfinity = std::numeric_limits<double>::infinity();

ZDMPValueRef string(std::u16string text, Error* error) {
    return ZDMPStringValue::make(std::move(text), error);
}

// The number conversion with NaN as 0, infinities and zeros kept, anything else truncated.
double integerArgument(const ZDMPValueRef& value, Error* error) {
    return ZDMPIntegerPart(value->doubleValueOrError(error));
}

// The text of an optional argument, "undefined" when absent.
std::u16string textArgument(List values, size_t index, Error* error) {
    return index < values.size() ? values[index]->stringValueOrError(error) : u"undefined";
}

// An exact UTF-16 search; an empty search text is never found.
size_t findText(std::u16string_view text, std::u16string_view search, size_t from) {
    if (search.empty()) return std::u16string::npos;
    return text.find(search, from);
}

double clampToLength(double value, size_t length) {
    return std::clamp(value, 0.0, static_cast<double>(length));
}

ZDMPValueRef charAt(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 1, error)) return ZDMPUndefined();
    const double index = values.empty() ? 0 : integerArgument(values[0], error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    // Infinities and values beyond the 64-bit range read as the most negative index.
    if (!(index >= -9223372036854775808.0 && index < 9223372036854775808.0) || index < 0 ||
        index >= static_cast<double>(text.size())) {
        return string(u"", error);
    }
    return string(std::u16string(1, text[static_cast<size_t>(index)]), error);
}

ZDMPValueRef concat(Text text, List values, Scope, Error* error) {
    std::u16string result = text;
    for (const auto& value : values) {
        const std::u16string piece = value->stringValueOrError(error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        const double bytes = static_cast<double>(result.size() + piece.size()) * sizeof(char16_t);
        if (!ZDMPRunBudget::fitsBytes(bytes, error)) return ZDMPUndefined();
        result += piece;
    }
    return string(std::move(result), error);
}

ZDMPValueRef hasOwnProperty(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 1, error)) return ZDMPUndefined();
    const std::u16string name = values[0]->stringValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    if (name == u"length") return ZDMPBoolean(true);
    const double n = values[0]->doubleValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPBoolean(n >= 0 && std::trunc(n) == n && n < static_cast<double>(text.size()));
}

ZDMPValueRef indexOf(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    const std::u16string search = textArgument(values, 0, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const double start = values.size() > 1 ? integerArgument(values[1], error) : 0;
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    const size_t found = findText(text, search, static_cast<size_t>(clampToLength(start, text.size())));
    return ZDMPNumberValue::make(found == std::u16string::npos ? -1 : static_cast<double>(found));
}

ZDMPValueRef lastIndexOf(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    const std::u16string search = textArgument(values, 0, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    double from = kInfinity;
    if (values.size() > 1) {
        const double number = values[1]->doubleValueOrError(error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        if (!std::isnan(number)) from = ZDMPIntegerPart(number);
    }
    const double end = std::min(clampToLength(from, text.size()) + static_cast<double>(search.size()),
                                static_cast<double>(text.size()));
    const std::u16string_view range(text.data(), static_cast<size_t>(end));
    const size_t found = search.empty() ? std::u16string::npos : range.rfind(search);
    return ZDMPNumberValue::make(found == std::u16string::npos ? -1 : static_cast<double>(found));
}

ZDMPValueRef match(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 1, error)) return ZDMPUndefined();
    const std::u16string pattern = values.empty() ? u"" : values[0]->stringValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    std::u16string matched;
    if (!pattern.empty()) {
        const auto found = ZDMPFirstRegularExpressionMatch(pattern, text, error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        if (!found) return ZDMPNull();
        matched = text.substr(found->location, found->length);
    }
    const ZDMPValueRef element = string(std::move(matched), error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    auto array = ZDMPArrayValue::initWithArray({element}, error);
    return array ? ZDMPValueRef(array) : ZDMPUndefined();
}

// The replacement text: a function is called with (search text, position, whole text).
std::u16string replacementText(Text text, List values, Text search, size_t position, Scope scope,
                               Error* error) {
    if (values.size() < 2) return u"undefined";
    auto* function = ZDMPAs<ZDMPFunctionValue>(values[1]);
    if (!function) return values[1]->stringValueOrError(error);
    const ZDMPValueRef result = function->invokeWithArguments(
        {std::make_shared<ZDMPStringValue>(search), ZDMPNumberValue::make(static_cast<double>(position)),
         std::make_shared<ZDMPStringValue>(text)},
        scope, error);
    if (ZDMPFailed(*error)) return u"";
    return result->stringValueOrError(error);
}

ZDMPValueRef replace(Text text, List values, Scope scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    const std::u16string search = textArgument(values, 0, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    size_t position = 0;
    if (!search.empty()) {
        position = findText(text, search, 0);
        if (position == std::u16string::npos) return string(text, error);
    }
    const std::u16string replacement = replacementText(text, values, search, position, scope, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    std::u16string result = text;
    result.replace(position, search.size(), replacement);
    return string(std::move(result), error);
}

ZDMPValueRef search(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 1, error)) return ZDMPUndefined();
    const std::u16string pattern = textArgument(values, 0, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    if (pattern.empty()) return ZDMPNumberValue::make(0);
    const auto found = ZDMPFirstRegularExpressionMatch(pattern, text, error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    return ZDMPNumberValue::make(found ? static_cast<double>(found->location) : -1);
}

// A bound of "slice": negative counts from the end.
double sliceBound(double value, size_t length) {
    const auto size = static_cast<double>(length);
    return value < 0 ? std::max(value + size, 0.0) : std::min(value, size);
}

// At most two integer arguments, start (default 0) and end (default the length).
bool rangeArguments(Text text, List values, Error* error, double* start, double* end) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return false;
    *start = values.empty() ? 0 : integerArgument(values[0], error);
    if (ZDMPFailed(*error)) return false;
    *end = values.size() > 1 ? integerArgument(values[1], error) : static_cast<double>(text.size());
    return !ZDMPFailed(*error);
}

ZDMPValueRef slice(Text text, List values, Scope, Error* error) {
    double start = 0, end = 0;
    if (!rangeArguments(text, values, error, &start, &end)) return ZDMPUndefined();
    const double from = sliceBound(start, text.size());
    const double to = sliceBound(end, text.size());
    if (to <= from) return string(u"", error);
    return string(text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)), error);
}

// Collects the pieces of "split", charging each (its value, its units and its slot) before it is
// made, so that cutting a long text stops at the budget.
class Pieces {
  public:
    bool add(std::u16string_view piece, Error* error) {
        constexpr double kPieceBytes = sizeof(ZDMPStringValue) + sizeof(ZDMPValueRef);
        const double bytes = kPieceBytes + static_cast<double>(piece.size()) * sizeof(char16_t);
        if (!ZDMPRunBudget::reserveBytes(bytes, error)) return false;
        values_.push_back(std::make_shared<ZDMPStringValue>(std::u16string(piece)));
        return true;
    }
    size_t count() const { return values_.size(); }
    ZDMPValueRef array() { return std::make_shared<ZDMPArrayValue>(std::move(values_)); }

  private:
    ZDMPValueList values_;
};

ZDMPValueRef split(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasAtMost(values, 2, error)) return ZDMPUndefined();
    Pieces pieces;
    if (text.empty() || values.empty()) return pieces.add(text, error) ? pieces.array() : ZDMPUndefined();
    const std::u16string separator = values[0]->stringValueOrError(error);
    if (ZDMPFailed(*error)) return ZDMPUndefined();
    size_t limit = std::numeric_limits<size_t>::max();
    if (values.size() > 1) {
        const double number = values[1]->doubleValueOrError(error);
        if (ZDMPFailed(*error)) return ZDMPUndefined();
        limit = ZDMPToUint32(number);
    }
    const std::u16string_view whole(text);
    if (separator.empty()) {
        for (size_t i = 0; i < whole.size() && pieces.count() < limit; ++i) {
            if (!pieces.add(whole.substr(i, 1), error)) return ZDMPUndefined();
        }
        return pieces.array();
    }
    size_t start = 0;
    while (pieces.count() < limit) {
        const size_t found = whole.find(separator, start);
        const size_t end = found == std::u16string::npos ? whole.size() : found;
        if (!pieces.add(whole.substr(start, end - start), error)) return ZDMPUndefined();
        if (found == std::u16string::npos) break;
        start = found + separator.size();
    }
    return pieces.array();
}

// A bound of "substring": made a signed 32-bit integer (out-of-range values and infinities become
// the most negative), then clamped to the text.
double substringBound(double value, size_t length) {
    if (!(value >= -2147483648.0 && value < 2147483648.0)) value = -2147483648.0;
    return clampToLength(value, length);
}

ZDMPValueRef substring(Text text, List values, Scope, Error* error) {
    double start = 0, end = 0;
    if (!rangeArguments(text, values, error, &start, &end)) return ZDMPUndefined();
    const double a = substringBound(start, text.size());
    const double b = substringBound(end, text.size());
    const auto from = static_cast<size_t>(std::min(a, b));
    return string(text.substr(from, static_cast<size_t>(std::max(a, b)) - from), error);
}

// The ICU name of the user's first preferred language, "" (the root locale) when there is none.
std::string currentLocale() {
    const auto languages = Locale::preferredLanguages();
    if (languages.empty()) return "";
    std::string identifier = languages.front();
    std::replace(identifier.begin(), identifier.end(), '-', '_');
    return identifier;
}

using CaseMapping = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

// Full case mapping: the result may be longer than the text ("ß" becomes "SS").
ZDMPValueRef mapCase(Text text, List values, const std::string& locale, CaseMapping mapping, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    const auto* source = reinterpret_cast<const UChar*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = mapping(nullptr, 0, source, length, locale.c_str(), &status);
    if (!ZDMPRunBudget::reserveBytes(static_cast<double>(needed) * sizeof(char16_t), error))
        return ZDMPUndefined();
    std::u16string mapped(static_cast<size_t>(needed), u'\0');
    status = U_ZERO_ERROR;
    mapping(reinterpret_cast<UChar*>(mapped.data()), needed, source, length, locale.c_str(), &status);
    return std::make_shared<ZDMPStringValue>(std::move(mapped));
}

ZDMPValueRef toLowerCase(Text text, List values, Scope, Error* error) {
    return mapCase(text, values, "", u_strToLower, error);
}

ZDMPValueRef toUpperCase(Text text, List values, Scope, Error* error) {
    return mapCase(text, values, "", u_strToUpper, error);
}

ZDMPValueRef toLocaleLowerCase(Text text, List values, Scope, Error* error) {
    return mapCase(text, values, currentLocale(), u_strToLower, error);
}

ZDMPValueRef toLocaleUpperCase(Text text, List values, Scope, Error* error) {
    return mapCase(text, values, currentLocale(), u_strToUpper, error);
}

ZDMPValueRef toString(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return string(text, error);
}

ZDMPValueRef trim(Text text, List values, Scope, Error* error) {
    if (!ZDMPEvaluator::hasExactly(values, 0, error)) return ZDMPUndefined();
    return string(std::u16string(ZDMPTrimWhiteSpace(text)), error);
}

}  // namespace

std::shared_ptr<ZDMPStringCommandEvaluator> ZDMPStringCommandEvaluator::sharedInstance() {
    return sharedEvaluator.get();
}

ZDMPStringCommandEvaluator::ZDMPStringCommandEvaluator()
    : handlers_({
          {u"charAt", charAt},
          {u"concat", concat},
          {u"hasOwnProperty", hasOwnProperty},
          {u"indexOf", indexOf},
          {u"lastIndexOf", lastIndexOf},
          {u"match", match},
          {u"replace", replace},
          {u"search", search},
          {u"slice", slice},
          {u"split", split},
          {u"substring", substring},
          {u"toLowerCase", toLowerCase},
          {u"toLocaleLowerCase", toLocaleLowerCase},
          {u"toUpperCase", toUpperCase},
          {u"toLocaleUpperCase", toLocaleUpperCase},
          {u"toString", toString},
          {u"trim", trim},
      }) {}

ZDMPValueRef ZDMPStringCommandEvaluator::evaluateCommand(const std::u16string& name,
                                                         const std::u16string& string,
                                                         const ZDMPValueList& arguments,
                                                         const ZDMPScopeRef& scope, Error* error) const {
    const auto found = handlers_.find(name);
    if (found == handlers_.end()) return ZDMPFail(error, ZDMPErrorCode::unknownMethod);
    Error failure;
    const ZDMPValueList values = ZDMPEvaluator::evaluateArguments(arguments, scope, &failure);
    ZDMPValueRef result =
        ZDMPFailed(failure) ? ZDMPUndefined() : found->second(string, values, scope, &failure);
    if (!ZDMPFailed(failure)) return result;
    setError(error, std::move(failure));
    return ZDMPUndefined();
}
