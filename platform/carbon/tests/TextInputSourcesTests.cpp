#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/carbon/TextInputSources_simulated.h"
#include "platform/foundation/DistributedNotificationCenter.h"

namespace {

class TextInputSources : public testing::Test {
  protected:
    TextInputSources() { SimulatedTextInput::reset(); }
    ~TextInputSources() override { SimulatedTextInput::reset(); }
};

// What the key types, or the status when the call fails.
std::u16string typed(const TISInputSourceRef& source, uint16_t keyCode, uint32_t modifiers = 0,
                     uint16_t action = kUCKeyActionDisplay, UniCharCount max = 8,
                     uint32_t* deadKeyState = nullptr) {
    UniChar units[8] = {};
    UniCharCount length = 99;
    uint32_t dead = 0;
    OSStatus status =
        UCKeyTranslate(source->unicodeKeyLayoutData(), keyCode, action, modifiers, LMGetKbdType(), 0,
                       deadKeyState ? deadKeyState : &dead, max, &length, units);
    if (status != noErr) return u"status " + std::u16string(1, char16_t(-status));
    return std::u16string(units, units + length);
}

TEST_F(TextInputSources, SelectingASourceMakesItCurrentAndTellsEveryone) {
    int notices = 0;
    auto token = DistributedNotificationCenter::defaultCenter().addObserver(
        kTISNotifySelectedKeyboardInputSourceChanged, [&](const Notification&) { ++notices; });
    EXPECT_EQ(TISCopyCurrentKeyboardLayoutInputSource(), SimulatedTextInput::usLayout());

    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::qwertzLayout()), noErr);
    EXPECT_EQ(TISCopyCurrentKeyboardLayoutInputSource(), SimulatedTextInput::qwertzLayout());
    EXPECT_EQ(TISCopyCurrentASCIICapableKeyboardLayoutInputSource(), SimulatedTextInput::qwertzLayout());

    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::greekLayout()), noErr);
    EXPECT_EQ(TISCopyCurrentKeyboardLayoutInputSource(), SimulatedTextInput::greekLayout());
    EXPECT_EQ(TISCopyCurrentASCIICapableKeyboardLayoutInputSource(), SimulatedTextInput::qwertzLayout());

    EXPECT_EQ(TISSelectInputSource(nullptr), paramErr);
    EXPECT_EQ(notices, 2);
    EXPECT_EQ(*SimulatedTextInput::greekLayout()->inputSourceID(), "org.quorvane.keylayout.Greek");
    EXPECT_FALSE(SimulatedTextInput::greekLayout()->isASCIICapable());
    EXPECT_EQ(SimulatedTextInput::inputMethodWithoutLayout()->unicodeKeyLayoutData(), nullptr);
}

TEST_F(TextInputSources, LayoutsTranslateByModifierLayer) {
    auto us = SimulatedTextInput::usLayout();
    struct Case {
        TISInputSourceRef source;
        uint16_t keyCode;
        uint32_t modifiers;
        std::u16string expected;
    } cases[] = {
        {us, 0, 0, u"a"},
        {us, 0, kUCModifierShift, u"A"},
        {us, 0, kUCModifierCommand, u"a"},
        {us, 0, kUCModifierCommand | kUCModifierShift, u"A"},
        {us, 0, kUCModifierOption, u"å"},
        {us, 0, kUCModifierControl | kUCModifierShift, u"\x01"},
        {us, 33, kUCModifierControl, u"\x1B"},
        {us, 19, kUCModifierShift, u"@"},
        {us, 36, kUCModifierShift, u"\r"},
        {us, 96, 0, u"\x10"},
        {us, 71, 0, u"\x1B"},
        {us, 76, 0, u"\x03"},
        {us, 200, 0, u""},
        {SimulatedTextInput::qwertzLayout(), 6, 0, u"y"},
        {SimulatedTextInput::qwertzLayout(), 16, kUCModifierShift, u"Z"},
        {SimulatedTextInput::greekLayout(), 0, 0, u"α"},
        {SimulatedTextInput::greekLayout(), 0, kUCModifierShift, u"Α"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(typed(c.source, c.keyCode, c.modifiers), c.expected) << c.keyCode << " " << c.modifiers;
}

TEST_F(TextInputSources, TranslateReportsDeadKeysBadArgumentsAndInjectedFailures) {
    auto us = SimulatedTextInput::usLayout();
    uint32_t deadKeyState = 0;
    EXPECT_EQ(typed(us, 14, kUCModifierOption, kUCKeyActionDisplay, 8, &deadKeyState), u"");
    EXPECT_NE(deadKeyState, 0u);
    EXPECT_EQ(typed(us, 0, 0, kUCKeyActionUp), u"");
    EXPECT_EQ(typed(us, 0, 0, 7), u"status 2");  // paramErr
    EXPECT_EQ(typed(SimulatedTextInput::inputMethodWithoutLayout(), 0), u"status 2");
    EXPECT_EQ(typed(us, 0, 0, kUCKeyActionDisplay, 0), u"");

    size_t before = SimulatedTextInput::translateCallCount();
    SimulatedTextInput::setTranslateStatus(-25340);
    EXPECT_EQ(typed(us, 0), std::u16string(u"status ") + char16_t(25340));
    SimulatedTextInput::setTranslateStatus(noErr);
    SimulatedTextInput::setTranslatesToNothing(true);
    EXPECT_EQ(typed(us, 0), u"");
    SimulatedTextInput::reset();
    EXPECT_EQ(typed(us, 0), u"a");
    EXPECT_EQ(SimulatedTextInput::translateCallCount() - before, 3u);
}

TEST_F(TextInputSources, KeyboardTypeIsSettable) {
    SimulatedTextInput::setKeyboardType(41);
    EXPECT_EQ(LMGetKbdType(), 41);
    SimulatedTextInput::reset();
    EXPECT_EQ(LMGetKbdType(), 40);
}

}  // namespace
