#include "platform/carbon/KeyboardLayouts.h"

#include <utility>

#include "platform/foundation/UnicodeText.h"

namespace {

struct PrintingKey {
    uint16_t code;
    const char* base;
    const char* shift;
    const char* option;  // nullptr: a dead key with Option
};

// What the printing keys of the US layout type, by layer.
constexpr PrintingKey kUSPrintingKeys[] = {
    {0, "a", "A", "å"},
    {1, "s", "S", "ß"},
    {2, "d", "D", "∂"},
    {3, "f", "F", "ƒ"},
    {4, "h", "H", "˙"},
    {5, "g", "G", "©"},
    {6, "z", "Z", "Ω"},
    {7, "x", "X", "≈"},
    {8, "c", "C", "ç"},
    {9, "v", "V", "√"},
    {10, "§", "±", "§"},
    {11, "b", "B", "∫"},
    {12, "q", "Q", "œ"},
    {13, "w", "W", "∑"},
    {14, "e", "E", nullptr},
    {15, "r", "R", "®"},
    {16, "y", "Y", "¥"},
    {17, "t", "T", "†"},
    {18, "1", "!", "¡"},
    {19, "2", "@", "™"},
    {20, "3", "#", "£"},
    {21, "4", "$", "¢"},
    {22, "6", "^", "§"},
    {23, "5", "%", "∞"},
    {24, "=", "+", "≠"},
    {25, "9", "(", "ª"},
    {26, "7", "&", "¶"},
    {27, "-", "_", "–"},
    {28, "8", "*", "•"},
    {29, "0", ")", "º"},
    {30, "]", "}", "‘"},
    {31, "o", "O", "ø"},
    {32, "u", "U", nullptr},
    {33, "[", "{", "“"},
    {34, "i", "I", nullptr},
    {35, "p", "P", "π"},
    {37, "l", "L", "¬"},
    {38, "j", "J", "∆"},
    {39, "'", "\"", "æ"},
    {40, "k", "K", "˚"},
    {41, ";", ":", "…"},
    {42, "\\", "|", "«"},
    {43, ",", "<", "≤"},
    {44, "/", "?", "÷"},
    {45, "n", "N", nullptr},
    {46, "m", "M", "µ"},
    {47, ".", ">", "≥"},
    {49, " ", " ", " "},
    {50, "`", "~", nullptr},
    // The keypad and the JIS keys type the same on every layer.
    {65, ".", ".", "."},
    {67, "*", "*", "*"},
    {69, "+", "+", "+"},
    {75, "/", "/", "/"},
    {78, "-", "-", "-"},
    {81, "=", "=", "="},
    {82, "0", "0", "0"},
    {83, "1", "1", "1"},
    {84, "2", "2", "2"},
    {85, "3", "3", "3"},
    {86, "4", "4", "4"},
    {87, "5", "5", "5"},
    {88, "6", "6", "6"},
    {89, "7", "7", "7"},
    {91, "8", "8", "8"},
    {92, "9", "9", "9"},
    {93, "¥", "¥", "¥"},
    {94, "_", "_", "_"},
    {95, "、", "、", "、"},
};

// Keys that type a control character whatever the modifiers.
constexpr std::pair<uint16_t, char16_t> kUSControlKeys[] = {
    {36, 0x0D},  {48, 0x09},  {51, 0x08},  {53, 0x1B},  {71, 0x1B},  {76, 0x03},  {114, 0x05}, {115, 0x01},
    {116, 0x0B}, {117, 0x7F}, {119, 0x04}, {121, 0x0C}, {123, 0x1C}, {124, 0x1D}, {125, 0x1F}, {126, 0x1E},
};

// F1-F20 all type the function-key character; the key code tells them apart.
constexpr uint16_t kFunctionKeys[] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                      103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

// Control with a letter types its control character, with a bracket or backslash ESC to GS.
std::u16string controlLayer(const std::u16string& base) {
    if (base.size() == 1 && base[0] >= u'a' && base[0] <= u'z')
        return std::u16string(1, char16_t(base[0] - u'a' + 1));
    if (base == u"[") return u"\x1B";
    if (base == u"\\") return u"\x1C";
    if (base == u"]") return u"\x1D";
    return base;
}

UCKeyboardLayout makeUS() {
    UCKeyboardLayout layout;
    for (const auto& key : kUSPrintingKeys) {
        std::u16string base = utf16String(key.base);
        layout.keys[key.code] = {base, utf16String(key.shift), key.option ? utf16String(key.option) : u"",
                                 controlLayer(base), key.option == nullptr};
    }
    for (const auto& [code, unit] : kUSControlKeys) {
        std::u16string text(1, unit);
        layout.keys[code] = {text, text, text, text};
    }
    for (uint16_t code : kFunctionKeys) layout.keys[code] = {u"\x10", u"\x10", u"\x10", u"\x10"};
    return layout;
}

}  // namespace

namespace KeyboardLayouts {

std::shared_ptr<const UCKeyboardLayout> us() {
    static const auto layout = std::make_shared<const UCKeyboardLayout>(makeUS());
    return layout;
}

std::shared_ptr<const UCKeyboardLayout> qwertz() {
    static const auto layout = [] {
        UCKeyboardLayout swapped = makeUS();
        std::swap(swapped.keys[6], swapped.keys[16]);
        return std::make_shared<const UCKeyboardLayout>(std::move(swapped));
    }();
    return layout;
}

std::shared_ptr<const UCKeyboardLayout> greek() {
    static const auto layout = [] {
        UCKeyboardLayout greek = makeUS();
        constexpr std::pair<uint16_t, const char*> kLetters[] = {
            {0, "α"},  {11, "β"}, {8, "ψ"},  {2, "δ"},  {14, "ε"}, {3, "φ"},  {5, "γ"},  {4, "η"},  {34, "ι"},
            {38, "ξ"}, {40, "κ"}, {37, "λ"}, {46, "μ"}, {45, "ν"}, {31, "ο"}, {35, "π"}, {12, ";"}, {15, "ρ"},
            {1, "σ"},  {17, "τ"}, {32, "θ"}, {9, "ω"},  {13, "ς"}, {7, "χ"},  {16, "υ"}, {6, "ζ"},
        };
        for (const auto& [code, letter] : kLetters) {
            auto& key = greek.keys[code];
            key.base = utf16String(letter);
            key.shift = utf16String(uppercaseString(letter));
        }
        return std::make_shared<const UCKeyboardLayout>(std::move(greek));
    }();
    return layout;
}

}  // namespace KeyboardLayouts
