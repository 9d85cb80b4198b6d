#include "shortcut_recorder/KRKeyCodeTransformer.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/UnicodeText.h"
#include "shortcut_recorder/KRCommon.h"
#include "shortcut_recorder/KRKeyCodeASCIITranslator.h"
#include "shortcut_recorder/KRShortcut.h"

namespace {

constinit SharedInstance<KRLiteralKeyCodeTransformer> sharedLiteral;
constinit SharedInstance<KRSymbolicKeyCodeTransformer> sharedSymbolic;
constinit SharedInstance<KRASCIILiteralKeyCodeTransformer> sharedASCIILiteral;
constinit SharedInstance<KRASCIISymbolicKeyCodeTransformer> sharedASCIISymbolic;

constexpr uint16_t kFunctionKeyCodes[20] = {122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                            103, 111, 105, 107, 113, 106, 64, 79,  80,  90};
// The character of F1 in key events and menu key equivalents; each next function key is one more.
constexpr char32_t kF1FunctionKey = 0xF704;

std::string utf8(char32_t codePoint) {
    std::string out;
    if (codePoint < 0x80) {
        out += char(codePoint);
    } else if (codePoint < 0x800) {
        out += char(0xC0 | (codePoint >> 6));
        out += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += char(0xE0 | (codePoint >> 12));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    } else {
        out += char(0xF0 | (codePoint >> 18));
        out += char(0x80 | ((codePoint >> 12) & 0x3F));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    }
    return out;
}

std::optional<int> functionKeyIndex(uint16_t keyCode) {
    auto found = std::find(std::begin(kFunctionKeyCodes), std::end(kFunctionKeyCodes), keyCode);
    if (found == std::end(kFunctionKeyCodes)) return std::nullopt;
    return int(found - std::begin(kFunctionKeyCodes));
}

// Literal and symbol of the keys whose form does not depend on the layout (Tab, Delete, Forward
// Delete and Space are decided in code).
struct FixedKey {
    uint16_t keyCode;
    char32_t literal;
    char32_t symbol;
};
constexpr FixedKey kFixedKeys[] = {
    {36, 0x21A9, 0x000D},  {53, 0x238B, 0x001B},  {71, 0x2327, 0xF739},  {76, 0x2305, 0x0003},
    {93, 0x00A5, 0x00A5},  {94, 0xFF3F, 0xFF3F},  {95, 0x3001, 0x3001},  {115, 0x2196, 0xF729},
    {116, 0x21DE, 0xF72C}, {119, 0x2198, 0xF72B}, {121, 0x21DF, 0xF72D}, {123, 0x2190, 0xF702},
    {124, 0x2192, 0xF703}, {125, 0x2193, 0xF701}, {126, 0x2191, 0xF700},
};
const FixedKey* fixedKey(uint16_t keyCode) {
    for (const auto& key : kFixedKeys)
        if (key.keyCode == keyCode) return &key;
    return nullptr;
}

constexpr char32_t kTabRight = 0x21E5;       // ⇥
constexpr char32_t kTabLeft = 0x21E4;        // ⇤
constexpr char32_t kDeleteLeft = 0x232B;     // ⌫
constexpr char32_t kDeleteRight = 0x2326;    // ⌦
const std::string kHelpLiteral = "?\u20DD";  // ?⃝

std::optional<uint16_t> keyCodeOf(const AnyObject& value) {
    if (!value.isNumber()) return std::nullopt;
    return static_cast<uint16_t>(value.value()->integerOr(0));
}

uint64_t flagsOf(const AnyObject& value) {
    return value.isNumber() ? static_cast<uint64_t>(value.value()->integerOr(0)) : 0;
}

AnyObject stringObject(const std::optional<std::string>& text) {
    return text ? AnyObject(Value(*text)) : AnyObject();
}

AnyObject keyCodeObject(std::optional<uint16_t> keyCode) {
    if (!keyCode) {
        traceLog(TraceLevel::Error, "#Error Invalid value for reverse transformation");
        return {};
    }
    return AnyObject(Value(int(*keyCode)));
}

// "F1".."F20" as written (lowercased): the rest must be 1-9 after one letter, 10-20 after two.
std::optional<uint16_t> functionKeyNamed(const std::string& lowercased) {
    if (lowercased.size() < 2 || lowercased.size() > 3 || lowercased[0] != 'f') return std::nullopt;
    int number = 0;
    const char* begin = lowercased.data() + 1;
    const char* end = lowercased.data() + lowercased.size();
    auto [stop, error] = std::from_chars(begin, end, number);
    if (error != std::errc() || stop != end) return std::nullopt;
    bool inRange = lowercased.size() == 2 ? number >= 1 && number <= 9 : number >= 10 && number <= 20;
    if (!inRange) return std::nullopt;
    return kFunctionKeyCodes[number - 1];
}

// The main-row digits and punctuation, and every glyph of the literal forms.
const std::map<std::string, uint16_t>& literalKeyCodes() {
    static const auto* table = new std::map<std::string, uint16_t>{
        {" ", 49},  {"-", 27}, {".", 47},  {"/", 44},  {"0", 29},  {"1", 18},  {"2", 19},
        {"3", 20},  {"4", 21}, {"5", 23},  {"6", 22},  {"7", 26},  {"8", 28},  {"9", 25},
        {"=", 24},  {"¥", 93}, {"←", 123}, {"↑", 126}, {"→", 124}, {"↓", 125}, {"↖", 115},
        {"↘", 119}, {"↩", 36}, {"⇞", 116}, {"⇟", 121}, {"⇤", 48},  {"⇥", 48},  {"⌅", 76},
        {"⌦", 117}, {"⌧", 71}, {"⌫", 51},  {"⎋", 53},  {"、", 95}, {"＿", 94},
    };
    return *table;
}

const std::map<char16_t, uint16_t>& symbolKeyCodes() {
    static const auto* table = [] {
        auto* symbols = new std::map<char16_t, uint16_t>{
            {0x0019, 48},  {u'-', 27},    {u'.', 47},    {u'/', 44},    {u'0', 29},    {u'1', 18},
            {u'2', 19},    {u'3', 20},    {u'4', 21},    {u'5', 23},    {u'6', 22},    {u'7', 26},
            {u'8', 28},    {u'9', 25},    {u'=', 24},    {0x00A5, 93},  {0x3001, 95},  {0xF700, 126},
            {0xF701, 125}, {0xF702, 123}, {0xF703, 124}, {0xF729, 115}, {0xF72B, 119}, {0xF72C, 116},
            {0xF72D, 121}, {0xF746, 114}, {0xFF3F, 94},
        };
        for (int i = 0; i < 20; ++i) (*symbols)[char16_t(kF1FunctionKey + i)] = kFunctionKeyCodes[i];
        return symbols;
    }();
    return *table;
}

}  // namespace

// --- KRKeyCodeTransformer

KRKeyCodeTransformer::KRKeyCodeTransformer(std::shared_ptr<KRKeyCodeTranslator> translator)
    : translator_(std::move(translator)) {}

std::shared_ptr<KRKeyCodeTransformer> KRKeyCodeTransformer::sharedTransformer() {
    return KRSymbolicKeyCodeTransformer::sharedTransformer();
}

std::shared_ptr<KRKeyCodeTransformer> KRKeyCodeTransformer::create() {
    traceLog(TraceLevel::Error, "#Developer #Error Use KRSymbolicKeyCodeTransformer instead");
    return KRSymbolicKeyCodeTransformer::sharedTransformer();
}

std::shared_ptr<KRKeyCodeTransformer> KRKeyCodeTransformer::create(TISInputSourceRef source) {
    traceLog(TraceLevel::Error, "#Developer #Error Use KRSymbolicKeyCodeTransformer instead");
    return std::make_shared<KRSymbolicKeyCodeTransformer>(std::move(source));
}

const std::vector<uint16_t>& KRKeyCodeTransformer::knownKeyCodes() {
    static const auto* codes = new std::vector<uint16_t>{
        29, 18, 19,  20,  21,  23,  22,  26, 28,  25, 0,  11,  42,  8,   43,  2,   14,  24,  3,   5,   50,
        4,  34, 38,  40,  82,  83,  84,  85, 86,  87, 88, 89,  91,  92,  65,  75,  76,  81,  78,  67,  69,
        37, 33, 46,  27,  45,  31,  35,  47, 12,  39, 15, 30,  1,   41,  44,  17,  32,  9,   13,  7,   16,
        6,  51, 125, 119, 53,  122, 120, 99, 118, 96, 97, 98,  100, 101, 109, 103, 111, 105, 107, 113, 106,
        64, 79, 80,  90,  117, 114, 115, 10, 95,  94, 93, 123, 121, 116, 36,  124, 49,  48,  126,
    };
    return *codes;
}

std::optional<std::string> KRKeyCodeTransformer::literalForKeyCode(
    uint16_t keyCode, uint64_t implicitModifierFlags, uint64_t explicitModifierFlags,
    NSUserInterfaceLayoutDirection direction) const {
    const bool rightToLeft = direction == NSUserInterfaceLayoutDirection::RightToLeft;
    switch (keyCode) {
        case 48: {
            // Shift+Tab goes back, and "back" points the other way when the interface is mirrored.
            const bool backwards = (implicitModifierFlags & NSEventModifierFlagShift) != 0;
            return utf8(backwards != rightToLeft ? kTabLeft : kTabRight);
        }
        case 49:
            return KRLocalizedString("Space");
        case 51:
            return utf8(rightToLeft ? kDeleteRight : kDeleteLeft);
        case 114:
            return kHelpLiteral;
        case 117:
            return utf8(rightToLeft ? kDeleteLeft : kDeleteRight);
    }
    if (const FixedKey* key = fixedKey(keyCode)) return utf8(key->literal);
    if (auto index = functionKeyIndex(keyCode)) return "F" + std::to_string(*index + 1);
    auto translation =
        translator_->translateKeyCode(keyCode, implicitModifierFlags, explicitModifierFlags, true);
    if (!translation) return std::nullopt;
    return uppercaseString(*translation);
}

std::optional<std::string> KRKeyCodeTransformer::symbolForKeyCode(uint16_t keyCode,
                                                                  uint64_t implicitModifierFlags,
                                                                  uint64_t explicitModifierFlags,
                                                                  NSUserInterfaceLayoutDirection) const {
    switch (keyCode) {
        case 48:
            return "\t";
        case 49:
            return " ";
        case 51:
            return "\b";
        case 114:
            return utf8(0xF746);
        case 117:
            return "\x7F";
    }
    if (const FixedKey* key = fixedKey(keyCode)) return utf8(key->symbol);
    if (auto index = functionKeyIndex(keyCode)) return utf8(kF1FunctionKey + *index);
    return translator_->translateKeyCode(keyCode, implicitModifierFlags, explicitModifierFlags, true);
}

std::optional<std::string> KRKeyCodeTransformer::transformedValue(const AnyObject&, const AnyObject&,
                                                                  const AnyObject&,
                                                                  NSUserInterfaceLayoutDirection) const {
    return std::nullopt;
}

AnyObject KRKeyCodeTransformer::transformedValue(const AnyObject& value) const {
    if (auto shortcut = value.object<KRShortcut>())
        return stringObject(transformedValue(AnyObject(Value(shortcut->keyCode())), AnyObject(),
                                             AnyObject(Value(shortcut->modifierFlags())),
                                             NSUserInterfaceLayoutDirection::LeftToRight));
    return stringObject(
        transformedValue(value, AnyObject(), AnyObject(), NSUserInterfaceLayoutDirection::LeftToRight));
}

AnyObject KRKeyCodeTransformer::reverseTransformedValue(const AnyObject&) const {
    return {};
}

TISInputSourceRef KRKeyCodeTransformer::inputSource() const {
    return translator_->inputSource();
}

std::optional<std::string> KRKeyCodeTransformer::transform(const char* activityName, bool literal,
                                                           const AnyObject& keyCode,
                                                           const AnyObject& implicitModifierFlags,
                                                           const AnyObject& explicitModifierFlags,
                                                           NSUserInterfaceLayoutDirection direction) const {
    TraceActivity activity(activityName);
    auto code = keyCodeOf(keyCode);
    if (!code) {
        traceLog(TraceLevel::Error, "#Error Invalid key code");
        return std::nullopt;
    }
    uint64_t implicitFlags = flagsOf(implicitModifierFlags);
    uint64_t explicitFlags = flagsOf(explicitModifierFlags);
    return literal ? literalForKeyCode(*code, implicitFlags, explicitFlags, direction)
                   : symbolForKeyCode(*code, implicitFlags, explicitFlags, direction);
}

// --- The four forms

std::shared_ptr<KRLiteralKeyCodeTransformer> KRLiteralKeyCodeTransformer::sharedTransformer() {
    return sharedLiteral.get();
}
KRLiteralKeyCodeTransformer::KRLiteralKeyCodeTransformer()
    : KRKeyCodeTransformer(KRKeyCodeTranslator::shared()) {}
KRLiteralKeyCodeTransformer::KRLiteralKeyCodeTransformer(TISInputSourceRef source)
    : KRKeyCodeTransformer(std::make_shared<KRKeyCodeTranslator>(std::move(source))) {}
std::optional<std::string> KRLiteralKeyCodeTransformer::transformedValue(
    const AnyObject& keyCode, const AnyObject& implicitModifierFlags, const AnyObject& explicitModifierFlags,
    NSUserInterfaceLayoutDirection direction) const {
    return transform("Key Code -> Literal", true, keyCode, implicitModifierFlags, explicitModifierFlags,
                     direction);
}

std::shared_ptr<KRSymbolicKeyCodeTransformer> KRSymbolicKeyCodeTransformer::sharedTransformer() {
    return sharedSymbolic.get();
}
KRSymbolicKeyCodeTransformer::KRSymbolicKeyCodeTransformer()
    : KRKeyCodeTransformer(KRKeyCodeTranslator::shared()) {}
KRSymbolicKeyCodeTransformer::KRSymbolicKeyCodeTransformer(TISInputSourceRef source)
    : KRKeyCodeTransformer(std::make_shared<KRKeyCodeTranslator>(std::move(source))) {}
std::optional<std::string> KRSymbolicKeyCodeTransformer::transformedValue(
    const AnyObject& keyCode, const AnyObject& implicitModifierFlags, const AnyObject& explicitModifierFlags,
    NSUserInterfaceLayoutDirection direction) const {
    return transform("Key Code -> Symbol", false, keyCode, implicitModifierFlags, explicitModifierFlags,
                     direction);
}

// The ASCII forms keep a translator that can also look key codes up, also on a fixed source.
std::shared_ptr<KRASCIILiteralKeyCodeTransformer> KRASCIILiteralKeyCodeTransformer::sharedTransformer() {
    return sharedASCIILiteral.get();
}
KRASCIILiteralKeyCodeTransformer::KRASCIILiteralKeyCodeTransformer()
    : KRKeyCodeTransformer(KRKeyCodeASCIITranslator::shared()) {}
KRASCIILiteralKeyCodeTransformer::KRASCIILiteralKeyCodeTransformer(TISInputSourceRef source)
    : KRKeyCodeTransformer(std::make_shared<KRKeyCodeASCIITranslator>(std::move(source))) {}
std::optional<std::string> KRASCIILiteralKeyCodeTransformer::transformedValue(
    const AnyObject& keyCode, const AnyObject& implicitModifierFlags, const AnyObject& explicitModifierFlags,
    NSUserInterfaceLayoutDirection direction) const {
    return transform("Key Code -> ASCII Literal", true, keyCode, implicitModifierFlags, explicitModifierFlags,
                     direction);
}

AnyObject KRASCIILiteralKeyCodeTransformer::reverseTransformedValue(const AnyObject& value) const {
    TraceActivity activity("ASCII Literal -> Key Code");
    const std::string* text = value.string();
    if (!text || text->empty()) {
        traceLog(TraceLevel::Error, "#Error Invalid ASCII literal");
        return {};
    }
    const std::string lowercased = lowercaseString(*text);
    if (auto found = literalKeyCodes().find(lowercased); found != literalKeyCodes().end())
        return keyCodeObject(found->second);
    if (auto functionKey = functionKeyNamed(lowercased)) return keyCodeObject(functionKey);
    if (lowercased == "space" || lowercased == lowercaseString(KRLocalizedString("Space")))
        return keyCodeObject(49);
    if (lowercased == "esc" || lowercased == "escape") return keyCodeObject(53);
    if (lowercased == "tab") return keyCodeObject(48);
    if (lowercased == "help" || lowercased == kHelpLiteral) return keyCodeObject(114);
    if (lowercased == "enter") return keyCodeObject(36);
    auto translator = std::static_pointer_cast<KRKeyCodeASCIITranslator>(translator_);
    return keyCodeObject(translator->keyCodeForTranslation(lowercased));
}

std::shared_ptr<KRASCIISymbolicKeyCodeTransformer> KRASCIISymbolicKeyCodeTransformer::sharedTransformer() {
    return sharedASCIISymbolic.get();
}
KRASCIISymbolicKeyCodeTransformer::KRASCIISymbolicKeyCodeTransformer()
    : KRKeyCodeTransformer(KRKeyCodeASCIITranslator::shared()) {}
KRASCIISymbolicKeyCodeTransformer::KRASCIISymbolicKeyCodeTransformer(TISInputSourceRef source)
    : KRKeyCodeTransformer(std::make_shared<KRKeyCodeASCIITranslator>(std::move(source))) {}
std::optional<std::string> KRASCIISymbolicKeyCodeTransformer::transformedValue(
    const AnyObject& keyCode, const AnyObject& implicitModifierFlags, const AnyObject& explicitModifierFlags,
    NSUserInterfaceLayoutDirection direction) const {
    return transform("Key Code -> ASCII Symbol", false, keyCode, implicitModifierFlags, explicitModifierFlags,
                     direction);
}

AnyObject KRASCIISymbolicKeyCodeTransformer::reverseTransformedValue(const AnyObject& value) const {
    TraceActivity activity("ASCII Symbol -> Key Code");
    const std::string* text = value.string();
    std::u16string units = text ? utf16String(*text) : std::u16string();
    if (units.size() != 1) {
        traceLog(TraceLevel::Error, "#Error Invalid ASCII symbol");
        return {};
    }
    if (auto found = symbolKeyCodes().find(units[0]); found != symbolKeyCodes().end())
        return keyCodeObject(found->second);
    auto translator = std::static_pointer_cast<KRKeyCodeASCIITranslator>(translator_);
    return keyCodeObject(translator->keyCodeForTranslation(lowercaseString(*text)));
}
