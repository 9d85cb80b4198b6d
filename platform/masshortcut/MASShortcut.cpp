#include "platform/masshortcut/MASShortcut.h"

#include <utility>

namespace {
constexpr const char* kKeyCodeKey = "KeyCode";
constexpr const char* kModifierFlagsKey = "ModifierFlags";

// Virtual key codes of a US keyboard and the text shown for them.
constexpr std::pair<int64_t, const char*> kKeyNames[] = {
    {0, "A"},      {1, "S"},    {2, "D"},     {3, "F"},     {4, "H"},     {5, "G"},   {6, "Z"},   {7, "X"},
    {8, "C"},      {9, "V"},    {11, "B"},    {12, "Q"},    {13, "W"},    {14, "E"},  {15, "R"},  {16, "Y"},
    {17, "T"},     {18, "1"},   {19, "2"},    {20, "3"},    {21, "4"},    {22, "6"},  {23, "5"},  {24, "="},
    {25, "9"},     {26, "7"},   {27, "-"},    {28, "8"},    {29, "0"},    {30, "]"},  {31, "O"},  {32, "U"},
    {33, "["},     {34, "I"},   {35, "P"},    {36, "↩"},    {37, "L"},    {38, "J"},  {39, "'"},  {40, "K"},
    {41, ";"},     {42, "\\"},  {43, ","},    {44, "/"},    {45, "N"},    {46, "M"},  {47, "."},  {48, "⇥"},
    {49, "Space"}, {50, "`"},   {51, "⌫"},    {53, "⎋"},    {96, "F5"},   {97, "F6"}, {98, "F7"}, {99, "F3"},
    {100, "F8"},   {101, "F9"}, {103, "F11"}, {109, "F10"}, {111, "F12"}, {115, "↖"}, {116, "⇞"}, {117, "⌦"},
    {118, "F4"},   {119, "↘"},  {120, "F2"},  {121, "⇟"},   {122, "F1"},  {123, "←"}, {124, "→"}, {125, "↓"},
    {126, "↑"},
};
}  // namespace

ArchiveClass MASShortcut::archiveClass() {
    return {kClassName, [] { return CodablePtr(new MASShortcut()); }};
}

MASShortcut::MASShortcut(int64_t keyCode, NSEventModifierFlags modifierFlags)
    : keyCode_(keyCode), modifierFlags_(modifierFlags) {}

std::string MASShortcut::modifierFlagsString() const {
    std::string out;
    if (modifierFlags_ & NSEventModifierFlagControl) out += "⌃";
    if (modifierFlags_ & NSEventModifierFlagOption) out += "⌥";
    if (modifierFlags_ & NSEventModifierFlagShift) out += "⇧";
    if (modifierFlags_ & NSEventModifierFlagCommand) out += "⌘";
    return out;
}

std::string MASShortcut::keyCodeString() const {
    for (auto& [code, name] : kKeyNames)
        if (code == keyCode_) return name;
    return {};
}

std::string MASShortcut::description() const {
    return modifierFlagsString() + keyCodeString();
}

void MASShortcut::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeInt64(keyCode_, kKeyCodeKey);
    coder.encodeInt64(static_cast<int64_t>(modifierFlags_), kModifierFlagsKey);
}

bool MASShortcut::initWithCoder(KeyedUnarchiver& coder) {
    keyCode_ = coder.decodeInt64(kKeyCodeKey);
    modifierFlags_ = static_cast<NSEventModifierFlags>(coder.decodeInt64(kModifierFlagsKey));
    return true;
}
