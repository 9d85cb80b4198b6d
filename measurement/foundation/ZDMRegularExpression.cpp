#include "measurement/foundation/ZDMRegularExpression.h"

#include <unicode/uregex.h>
#include <unicode/utext.h>

namespace {

struct TextCloser {
    void operator()(UText* text) const { utext_close(text); }
};
using TextRef = std::unique_ptr<UText, TextCloser>;

// The engine reads either encoding in place, so positions come back in the caller's own units and
// malformed UTF-8 is read the engine's way rather than rejected up front.
TextRef openText(std::u16string_view text, UErrorCode* status) {
    return TextRef(utext_openUChars(nullptr, reinterpret_cast<const UChar*>(text.data()),
                                    static_cast<int64_t>(text.size()), status));
}
TextRef openText(std::string_view text, UErrorCode* status) {
    return TextRef(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), status));
}

bool failed(UErrorCode status, Error* error) {
    if (U_SUCCESS(status)) return false;
    setError(error, Error(kZDMRegularExpressionErrorDomain, status, u_errorName(status)));
    return true;
}

}  // namespace

struct ZDMRegularExpression::Compiled {
    URegularExpression* regex = nullptr;
    ~Compiled() {
        if (regex) uregex_close(regex);
    }

    // Each engine call does nothing once `status` holds a failure, so the first failure is the one
    // reported.
    template <typename Chars>
    static std::unique_ptr<ZDMRegularExpression> open(Chars pattern, bool caseInsensitive, Error* error) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError{};
        auto compiled = std::make_unique<Compiled>();
        const TextRef text = openText(pattern, &status);
        compiled->regex =
            uregex_openUText(text.get(), caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, &parseError, &status);
        uregex_setTimeLimit(compiled->regex, kTimeLimitSteps, &status);
        uregex_setStackLimit(compiled->regex, kStackLimitBytes, &status);
        if (failed(status, error)) return nullptr;
        return std::unique_ptr<ZDMRegularExpression>(new ZDMRegularExpression(std::move(compiled)));
    }

    template <typename Chars>
    std::optional<Match> find(Chars chars, Error* error) const {
        UErrorCode status = U_ZERO_ERROR;
        const TextRef text = openText(chars, &status);
        uregex_setUText(regex, text.get(), &status);
        const bool found = uregex_find64(regex, 0, &status) != 0;
        int64_t start = 0;
        int64_t end = 0;
        if (found) {
            start = uregex_start64(regex, 0, &status);
            end = uregex_end64(regex, 0, &status);
        }
        // The text is borrowed only for this search; detach it so no dangling pointer stays behind.
        UErrorCode detachStatus = U_ZERO_ERROR;
        uregex_setText(regex, u"", 0, &detachStatus);
        if (failed(status, error) || !found) return std::nullopt;
        return Match{static_cast<size_t>(start), static_cast<size_t>(end - start)};
    }
};

ZDMRegularExpression::ZDMRegularExpression(std::unique_ptr<Compiled> compiled)
    : compiled_(std::move(compiled)) {}

ZDMRegularExpression::~ZDMRegularExpression() = default;

std::unique_ptr<ZDMRegularExpression> ZDMRegularExpression::compile(std::u16string_view pattern,
                                                                    bool caseInsensitive, Error* error) {
    return Compiled::open(pattern, caseInsensitive, error);
}

std::unique_ptr<ZDMRegularExpression> ZDMRegularExpression::compile(std::string_view pattern,
                                                                    bool caseInsensitive, Error* error) {
    return Compiled::open(pattern, caseInsensitive, error);
}

std::optional<ZDMRegularExpression::Match> ZDMRegularExpression::firstMatch(std::u16string_view text,
                                                                            Error* error) const {
    return compiled_->find(text, error);
}

std::optional<ZDMRegularExpression::Match> ZDMRegularExpression::firstMatch(std::string_view text,
                                                                            Error* error) const {
    return compiled_->find(text, error);
}

std::optional<ZDMRegularExpression::Match> ZDMFirstRegularExpressionMatch(std::u16string_view pattern,
                                                                          std::u16string_view text,
                                                                          Error* error) {
    const auto regex = ZDMRegularExpression::compile(pattern, false, error);
    return regex ? regex->firstMatch(text, error) : std::nullopt;
}
