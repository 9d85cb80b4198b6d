#include <gtest/gtest.h>

#include "platform/foundation/Exception.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRKeyEquivalentTransformer.h"
#include "shortcut_recorder/KRShortcut.h"
#include "shortcut_recorder/tests/ShortcutFixture.h"

namespace {

constexpr uint16_t kKeyA = 0;
constexpr uint16_t kKeyF5 = 96;
constexpr uint16_t kKeyTab = 48;
constexpr uint16_t kRightOption = 61;

using Shortcuts = ShortcutTest;

std::shared_ptr<KRShortcut> shortcut(uint16_t keyCode, uint64_t flags) {
    return KRShortcut::shortcutWithCode(keyCode, flags, std::nullopt, std::nullopt);
}

TEST_F(Shortcuts, AreMadeOnlyFromTheirParts) {
    for (auto make : {&KRShortcut::init, &KRShortcut::makeNew}) {
        try {
            make();
            ADD_FAILURE() << "made a shortcut";
        } catch (const Exception& e) {
            EXPECT_EQ(e.name(), NSInvalidArgumentException);
        }
    }
}

TEST_F(Shortcuts, FlagsChangedEventHoldsTheModifierKeyThatChanged) {
    auto event = NSEvent::keyEvent(NSEventType::FlagsChanged, kRightOption, "", kCommand, nullptr);
    auto recorded = KRShortcut::shortcutWithEvent(*event);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->keyCode(), KRKeyCodeNone);
    EXPECT_EQ(recorded->modifierFlags(), kCommand | kOption);
    EXPECT_EQ(recorded->characters(), std::nullopt);
    EXPECT_EQ(recorded->charactersIgnoringModifiers(), std::nullopt);

    auto ignoring = KRShortcut::shortcutWithEvent(*event, true);
    EXPECT_EQ(ignoring->characters(), "");
    EXPECT_EQ(ignoring->charactersIgnoringModifiers(), "");
}

TEST_F(Shortcuts, KeyEventsGiveTheirCharactersUnlessIgnored) {
    auto event = NSEvent::keyEvent(NSEventType::KeyDown, kKeyA, "å", kOption | NSEventModifierFlagCapsLock,
                                   nullptr, "a");
    auto recorded = KRShortcut::shortcutWithEvent(*event);
    EXPECT_EQ(recorded->keyCode(), kKeyA);
    EXPECT_EQ(recorded->modifierFlags(), kOption);
    EXPECT_EQ(recorded->characters(), "å");
    EXPECT_EQ(recorded->charactersIgnoringModifiers(), "a");
    EXPECT_EQ(KRShortcut::shortcutWithEvent(*event, true)->characters(), "");
}

TEST_F(Shortcuts, OtherEventsGiveNilWithAnErrorLine) {
    auto event = NSEvent::mouseEvent(NSEventType::LeftMouseDown, {0, 0}, nullptr);
    EXPECT_EQ(KRShortcut::shortcutWithEvent(*event), nullptr);
    EXPECT_EQ(trace.count("#Error aKeyboardEvent must be either NSEventTypeKeyUp, NSEventTypeKeyDown or "
                          "NSEventTypeFlagsChanged, but got 1"),
              1u);
}

TEST_F(Shortcuts, EqualityAndHashIgnoreCharactersAndForeignFlags) {
    auto a = KRShortcut::shortcutWithCode(kKeyA, kCommand, "a", "a");
    auto b =
        KRShortcut::shortcutWithCode(kKeyA, kCommand | NSEventModifierFlagCapsLock | 0x8, "x", std::nullopt);
    EXPECT_EQ(b->modifierFlags(), kCommand);
    EXPECT_TRUE(a->isEqual(b.get()));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(shortcut(kKeyA, kCommand | kShift).get()));

    EXPECT_TRUE(
        a->isEqualToDictionary({{"keyCode", 0}, {"modifierFlags", kCommand | NSEventModifierFlagCapsLock}}));
    EXPECT_FALSE(a->isEqualToDictionary({{"keyCode", "0"}, {"modifierFlags", kCommand}}));
    EXPECT_FALSE(a->isEqualToDictionary({{"modifierFlags", kCommand}}));
    EXPECT_TRUE(shortcut(KRKeyCodeNone, kCommand)->isEqualToDictionary({{"modifierFlags", kCommand}}));
}

TEST_F(Shortcuts, StringsAreComputedFromTheKeyUnlessThereIsNone) {
    auto shiftA = shortcut(kKeyA, kShift | kCommand);
    EXPECT_EQ(shiftA->characters(), "A");
    EXPECT_EQ(shiftA->charactersIgnoringModifiers(), "a");
    EXPECT_EQ(shiftA->dictionaryRepresentation().size(), 4u);

    auto modifiersOnly = shortcut(KRKeyCodeNone, kShift);
    EXPECT_EQ(modifiersOnly->characters(), std::nullopt);
    Dictionary form = modifiersOnly->dictionaryRepresentation();
    EXPECT_EQ(form, (Dictionary{{"keyCode", 0xFFFF}, {"modifierFlags", kShift}}));
    EXPECT_EQ(modifiersOnly->objectForKeyedSubscript("modifierFlags"), Value(kShift));
    EXPECT_TRUE(modifiersOnly->objectForKeyedSubscript("characters").isNull());
    EXPECT_TRUE(modifiersOnly->objectForKeyedSubscript("version").isNull());
    EXPECT_TRUE(KRShortcut::shortcutWithDictionary(form)->isEqual(modifiersOnly.get()));
}

TEST_F(Shortcuts, DictionaryValuesOfTheWrongKindFallBack) {
    auto made = KRShortcut::shortcutWithDictionary({{"keyCode", "12"},
                                                    {"modifierFlags", Value()},
                                                    {"characters", Value()},
                                                    {"charactersIgnoringModifiers", "q"}});
    EXPECT_EQ(made->keyCode(), KRKeyCodeNone);
    EXPECT_EQ(made->modifierFlags(), 0u);
    EXPECT_EQ(made->characters(), std::nullopt);
    EXPECT_EQ(made->charactersIgnoringModifiers(), "q");
}

TEST_F(Shortcuts, KeyEquivalentsParseModifierGlyphsThenTheKey) {
    EXPECT_EQ(KRShortcut::shortcutWithKeyEquivalent(""), nullptr);
    auto glyphsOnly = KRShortcut::shortcutWithKeyEquivalent("⌘⇧");
    ASSERT_TRUE(glyphsOnly);
    EXPECT_EQ(glyphsOnly->keyCode(), KRKeyCodeNone);
    EXPECT_EQ(glyphsOnly->modifierFlags(), kCommand | kShift);
    auto full = KRShortcut::shortcutWithKeyEquivalent("⇧⌘A");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->keyCode(), kKeyA);
    EXPECT_EQ(full->modifierFlags(), kCommand | kShift);
    EXPECT_EQ(KRShortcut::shortcutWithKeyEquivalent("⌘Ω"), nullptr);
    EXPECT_EQ(KRShortcut::shortcutWithKeyEquivalent("⌘⌘A"), nullptr);
}

TEST_F(Shortcuts, CarbonFormAddsTheFunctionKeyFlag) {
    EXPECT_EQ(shortcut(kKeyF5, kCommand | kShift)->carbonModifierFlags(), 0x800000u | 0x100u | 0x200u);
    EXPECT_EQ(shortcut(kKeyA, kCommand | kShift)->carbonModifierFlags(), 0x300u);
    EXPECT_EQ(shortcut(kKeyA, kOption | kControl)->carbonModifierFlags(), 0x1800u);

    EXPECT_EQ(shortcut(KRKeyCodeNone, kCommand)->carbonKeyCode(), 0xFFFFu);
    EXPECT_EQ(trace.count("#Critical KRKeyCodeNone has no representation in Carbon"), 1u);
}

TEST_F(Shortcuts, KeyEquivalentsMatchWithTheModifiersTheyTypeThemselves) {
    auto tab = shortcut(kKeyTab, 0);
    EXPECT_TRUE(tab->isEqualToKeyEquivalent("\t", 0));
    EXPECT_TRUE(tab->isEqualToKeyEquivalent("\x19", 0));
    EXPECT_FALSE(tab->isEqualToKeyEquivalent("\t", kCommand));

    auto shiftCommandA = shortcut(kKeyA, kShift | kCommand);
    EXPECT_TRUE(shiftCommandA->isEqualToKeyEquivalent("a", kShift | kCommand));
    EXPECT_TRUE(shiftCommandA->isEqualToKeyEquivalent("A", kCommand));
    EXPECT_FALSE(shiftCommandA->isEqualToKeyEquivalent("a", kCommand));
    EXPECT_FALSE(shiftCommandA->isEqualToKeyEquivalent("A", kCommand | kOption));
    EXPECT_FALSE(shiftCommandA->isEqualToKeyEquivalent("", kShift | kCommand));
    EXPECT_FALSE(shortcut(KRKeyCodeNone, kCommand)->isEqualToKeyEquivalent("a", kCommand));
}

TEST_F(Shortcuts, ReadableStringNamesModifiersThenTheKey) {
    EXPECT_EQ(shortcut(kKeyA, kShift | kCommand | kOption)->readableStringRepresentation(true),
              "Command-Option-Shift-A");
    EXPECT_EQ(shortcut(0x7F00, kControl)->readableStringRepresentation(true), "Control-<32512>");
}

TEST_F(Shortcuts, DescriptionIsGlyphsThenKey) {
    EXPECT_EQ(shortcut(kKeyA, kShift | kCommand)->description(), "⇧⌘A");
}

TEST_F(Shortcuts, CopyingGivesTheSameObject) {
    auto original = shortcut(kKeyA, kCommand);
    EXPECT_EQ(original->copy(), original);
}

// Reads what a shortcut's coder form holds, version included.
class CoderFormProbe : public Codable {
  public:
    std::string archiveClassName() const override { return "KRShortcut"; }
    void encodeWithCoder(KeyedArchiver&) const override {}
    bool initWithCoder(KeyedUnarchiver& coder) override {
        version = coder.decodeString("version");
        keyCode = coder.decodeObject("keyCode").value() ? *coder.decodeObject("keyCode").value() : Value();
        return true;
    }
    std::optional<std::string> version;
    Value keyCode;
};

TEST_F(Shortcuts, SurviveTheKeyedArchiverWithTheLibraryVersion) {
    auto original = KRShortcut::shortcutWithCode(kKeyA, kShift | kCommand, "A", std::nullopt);
    Error error;
    auto data = KeyedArchiver::archivedDataWithRootObject(Archived(original), true, &error);
    ASSERT_TRUE(data) << error.description;

    auto decoded = KeyedUnarchiver::unarchivedObject(*data, {KRShortcut::archiveClass()}, &error);
    ASSERT_TRUE(decoded) << error.description;
    auto shortcutBack = decoded->objectAs<KRShortcut>();
    ASSERT_TRUE(shortcutBack);
    EXPECT_TRUE(shortcutBack->isEqual(original.get()));
    EXPECT_EQ(shortcutBack->characters(), "A");
    EXPECT_EQ(shortcutBack->charactersIgnoringModifiers(), "a");

    auto probed = KeyedUnarchiver::unarchivedObject(
        *data, {{"KRShortcut", [] { return std::make_shared<CoderFormProbe>(); }}}, &error);
    ASSERT_TRUE(probed);
    auto probe = probed->objectAs<CoderFormProbe>();
    EXPECT_EQ(probe->version, "1");
    EXPECT_EQ(probe->keyCode, Value(0));
}

TEST_F(Shortcuts, TransformersReadTheShortcutItself) {
    AnyObject shiftF5(shortcut(kKeyF5, kShift | kCommand));
    EXPECT_EQ(*KRASCIILiteralKeyCodeTransformer::sharedTransformer()->transformedValue(shiftF5).string(),
              "F5");
    EXPECT_EQ(*KRKeyEquivalentTransformer::sharedTransformer()->transformedValue(shiftF5).string(), "\uF708");
    EXPECT_EQ(*KRKeyEquivalentModifierMaskTransformer::sharedTransformer()->transformedValue(shiftF5).value(),
              Value(kShift | kCommand));
}

}  // namespace
