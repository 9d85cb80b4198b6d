#include "platform/foundation/TextValues.h"

namespace {
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
}  // namespace

bool boolValueOfText(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && isBlank(text[at])) ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    while (at < text.size() && text[at] == '0') ++at;
    if (at == text.size()) return false;
    const char next = text[at];
    return next == 'Y' || next == 'y' || next == 'T' || next == 't' || (next >= '1' && next <= '9');
}
