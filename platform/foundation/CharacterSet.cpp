#include "platform/foundation/CharacterSet.h"

#include <unicode/uchar.h>

bool isLetterCharacter(char32_t character) {
    switch (u_charType(static_cast<UChar32>(character))) {
        case U_UPPERCASE_LETTER:
        case U_LOWERCASE_LETTER:
        case U_TITLECASE_LETTER:
        case U_MODIFIER_LETTER:
        case U_OTHER_LETTER:
            return true;
        default:
            return false;
    }
}

bool isDecimalDigitCharacter(char32_t character) {
    return u_charType(static_cast<UChar32>(character)) == U_DECIMAL_DIGIT_NUMBER;
}
