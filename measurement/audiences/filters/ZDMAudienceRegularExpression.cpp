#include "measurement/audiences/filters/ZDMAudienceRegularExpression.h"

#include <unicode/uregex.h>
#include <unicode/utext.h>

struct ZDMAudienceRegularExpression::Compiled {
    URegularExpression* regex = nullptr;
    ~Compiled() {
        if (regex) uregex_close(regex);
    }
};

ZDMAudienceRegularExpression::ZDMAudienceRegularExpression(std::unique_ptr<Compiled> compiled)
    : compiled_(std::move(compiled)) {}

ZDMAudienceRegularExpression::~ZDMAudienceRegularExpression() = default;

std::unique_ptr<ZDMAudienceRegularExpression> ZDMAudienceRegularExpression::compile(
    const std::string& pattern, bool caseInsensitive, std::string* error) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    auto compiled = std::make_unique<Compiled>();
    UText* patternText =
        utext_openUTF8(nullptr, pattern.data(), static_cast<int64_t>(pattern.size()), &status);
    compiled->regex =
        uregex_openUText(patternText, caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, &parseError, &status);
    utext_close(patternText);
    if (U_SUCCESS(status)) uregex_setTimeLimit(compiled->regex, kTimeLimitSteps, &status);
    if (U_SUCCESS(status)) uregex_setStackLimit(compiled->regex, kStackLimitBytes, &status);
    if (U_FAILURE(status)) {
        if (error) *error = u_errorName(status);
        return nullptr;
    }
    return std::unique_ptr<ZDMAudienceRegularExpression>(
        new ZDMAudienceRegularExpression(std::move(compiled)));
}

std::optional<bool> ZDMAudienceRegularExpression::search(const std::string& text, std::string* error) const {
    UErrorCode status = U_ZERO_ERROR;
    UText* subject = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    uregex_setUText(compiled_->regex, subject, &status);
    const UBool found = U_SUCCESS(status) ? uregex_findNext(compiled_->regex, &status) : false;
    // The text is borrowed only for this search; detach it so no dangling pointer stays behind.
    UErrorCode resetStatus = U_ZERO_ERROR;
    uregex_setText(compiled_->regex, u"", 0, &resetStatus);
    utext_close(subject);
    if (U_FAILURE(status)) {
        if (error) *error = u_errorName(status);
        return std::nullopt;
    }
    return found != 0;
}
