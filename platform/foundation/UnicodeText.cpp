#include "platform/foundation/UnicodeText.h"

#include <unicode/ubrk.h>
#include <unicode/ustring.h>

#include <memory>

namespace {

constexpr UChar32 kReplacement = 0xFFFD;

using CaseMapping = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

// The first call measures, the second fills: case mapping may change the length ("ß" → "SS").
std::string mapCase(std::string_view text, CaseMapping map) {
    std::u16string source = utf16String(text);
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = map(nullptr, 0, source.data(), int32_t(source.size()), "", &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::string(text);
    std::u16string mapped(size_t(length), u'\0');
    status = U_ZERO_ERROR;
    map(mapped.data(), length, source.data(), int32_t(source.size()), "", &status);
    if (U_FAILURE(status)) return std::string(text);
    return utf8String(mapped);
}

}  // namespace

std::string lowercaseString(std::string_view text) {
    return mapCase(text, &u_strToLower);
}

std::string uppercaseString(std::string_view text) {
    return mapCase(text, &u_strToUpper);
}

std::vector<std::string> composedCharacterSequences(std::string_view text) {
    std::u16string units = utf16String(text);
    std::vector<std::string> sequences;
    if (units.empty()) return sequences;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
        ubrk_open(UBRK_CHARACTER, "", units.data(), int32_t(units.size()), &status), &ubrk_close);
    if (U_FAILURE(status)) return {utf8String(units)};
    int32_t start = ubrk_first(breaks.get());
    for (int32_t end = ubrk_next(breaks.get()); end != UBRK_DONE; start = end, end = ubrk_next(breaks.get()))
        sequences.push_back(utf8String(std::u16string_view(units).substr(start, end - start)));
    return sequences;
}

std::u16string utf16String(std::string_view text) {
    if (text.empty()) return {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(nullptr, 0, &length, text.data(), int32_t(text.size()), kReplacement, nullptr,
                         &status);
    std::u16string units(size_t(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(units.data(), length, nullptr, text.data(), int32_t(text.size()), kReplacement,
                         nullptr, &status);
    return U_FAILURE(status) ? std::u16string() : units;
}

std::string utf8String(std::u16string_view text) {
    if (text.empty()) return {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8WithSub(nullptr, 0, &length, text.data(), int32_t(text.size()), kReplacement, nullptr,
                       &status);
    std::string bytes(size_t(length), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(bytes.data(), length, nullptr, text.data(), int32_t(text.size()), kReplacement,
                       nullptr, &status);
    return U_FAILURE(status) ? std::string() : bytes;
}
