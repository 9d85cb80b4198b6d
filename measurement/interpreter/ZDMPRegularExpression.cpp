#include "measurement/interpreter/ZDMPRegularExpression.h"

#include <unicode/uregex.h>
#include <unicode/utypes.h>

#include <memory>

namespace {

// Steps of the match engine (in the order of milliseconds each) and bytes of backtracking stack.
constexpr int32_t kTimeLimit = 100;
constexpr int32_t kStackLimit = 1024 * 1024;

struct RegexCloser {
    void operator()(URegularExpression* regex) const { uregex_close(regex); }
};

bool failed(UErrorCode status, Error* error) {
    if (U_SUCCESS(status)) return false;
    setError(error, Error(kZDMPRegularExpressionErrorDomain, status, u_errorName(status)));
    return true;
}

}  // namespace

std::optional<ZDMPRegularExpressionMatch> ZDMPFirstRegularExpressionMatch(std::u16string_view pattern,
                                                                          std::u16string_view text,
                                                                          Error* error) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::unique_ptr<URegularExpression, RegexCloser> regex(
        uregex_open(reinterpret_cast<const UChar*>(pattern.data()), static_cast<int32_t>(pattern.size()), 0,
                    &parseError, &status));
    if (failed(status, error)) return std::nullopt;
    uregex_setTimeLimit(regex.get(), kTimeLimit, &status);
    uregex_setStackLimit(regex.get(), kStackLimit, &status);
    uregex_setText(regex.get(), reinterpret_cast<const UChar*>(text.data()),
                   static_cast<int32_t>(text.size()), &status);
    if (failed(status, error)) return std::nullopt;
    const bool found = uregex_find(regex.get(), 0, &status);
    if (failed(status, error) || !found) return std::nullopt;
    const int32_t start = uregex_start(regex.get(), 0, &status);
    const int32_t end = uregex_end(regex.get(), 0, &status);
    if (failed(status, error)) return std::nullopt;
    return ZDMPRegularExpressionMatch{static_cast<size_t>(start), static_cast<size_t>(end - start)};
}
