#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <set>

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/Exception.h"
#include "shortcut_recorder/KRKeyCodeASCIITranslator.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/tests/KeyboardFixture.h"
#include "testing/Eventually.h"

namespace {

using KeyCodeTranslation = KeyboardTest;

KRKeyCodeTranslator::InputSourceCreator countingCreator(int& calls, TISInputSourceRef source) {
    return [&calls, source] {
        ++calls;
        return source;
    };
}

TEST_F(KeyCodeTranslation, NoKeyIsEmptyWithoutAskingForASource) {
    int created = 0;
    KRKeyCodeTranslator translator(countingCreator(created, SimulatedTextInput::usLayout()));
    EXPECT_EQ(translator.translateKeyCode(KRKeyCodeNone, 0, 0, true), "");
    EXPECT_EQ(created, 0);
    EXPECT_EQ(translator.translateKeyCode(0, 0, 0, true), "a");
    EXPECT_EQ(created, 1);
}

TEST_F(KeyCodeTranslation, NoSourceIsNilWithACriticalLine) {
    KRKeyCodeTranslator translator(
        KRKeyCodeTranslator::InputSourceCreator([] { return TISInputSourceRef(); }));
    EXPECT_EQ(translator.translateKeyCode(0, 0, 0, true), std::nullopt);
    ASSERT_EQ(trace.count("#Critical Failed to create an input source"), 1u);
    EXPECT_EQ(trace.lines()[0].level, TraceLevel::Fault);
}

TEST_F(KeyCodeTranslation, TranslatesWithTheImplicitFlagsOnly) {
    struct Case {
        uint16_t keyCode;
        uint64_t implicitFlags;
        const char* typed;
    } cases[] = {
        {0, 0, "a"},
        {19, NSEventModifierFlagShift, "@"},
        {0, NSEventModifierFlagOption, "å"},
        {0, NSEventModifierFlagControl, "\x01"},
        {0, NSEventModifierFlagCommand, "a"},  // Command never changes the character
        {36, NSEventModifierFlagShift, "\r"},
        {0, NSEventModifierFlagCapsLock | NSEventModifierFlagFunction, "a"},  // not part of the state
    };
    KRKeyCodeTranslator translator(SimulatedTextInput::usLayout());
    for (const auto& c : cases) {
        EXPECT_EQ(translator.translateKeyCode(c.keyCode, c.implicitFlags, 0, false), c.typed)
            << c.keyCode << " " << c.implicitFlags;
        EXPECT_EQ(translator.translateKeyCode(c.keyCode, 0, c.implicitFlags, false),
                  translator.translateKeyCode(c.keyCode, 0, 0, false));
    }
}

TEST_F(KeyCodeTranslation, CachingOffOrASourceWithoutIDStoresNothing) {
    auto withoutID = std::make_shared<const TISInputSource>(
        std::nullopt, true,
        std::shared_ptr<const UCKeyboardLayout>(SimulatedTextInput::usLayout(),
                                                SimulatedTextInput::usLayout()->unicodeKeyLayoutData()));
    struct Case {
        TISInputSourceRef source;
        bool usingCache;
    } cases[] = {{SimulatedTextInput::usLayout(), false}, {withoutID, true}};
    for (const auto& c : cases) {
        KRKeyCodeTranslator translator(c.source);
        size_t before = SimulatedTextInput::translateCallCount();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(translator.translateKeyCode(1, 0, 0, c.usingCache), "s");
        EXPECT_EQ(SimulatedTextInput::translateCallCount() - before, 3u);
    }
    EXPECT_EQ(trace.count("#Error Input source misses an ID"), 3u);
    EXPECT_EQ(trace.count("Translation cache hit"), 0u);
}

TEST_F(KeyCodeTranslation, ExplicitFlagsTellCacheEntriesApart) {
    KRKeyCodeTranslator translator(SimulatedTextInput::usLayout());
    size_t before = SimulatedTextInput::translateCallCount();
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(translator.translateKeyCode(2, 0, NSEventModifierFlagCommand, true), "d");
        EXPECT_EQ(translator.translateKeyCode(2, 0, NSEventModifierFlagControl, true), "d");
        // Only the four modifiers count: these are the same entries again.
        EXPECT_EQ(translator.translateKeyCode(2, NSEventModifierFlagCapsLock,
                                              NSEventModifierFlagCommand | NSEventModifierFlagFunction, true),
                  "d");
    }
    EXPECT_EQ(SimulatedTextInput::translateCallCount() - before, 2u);
    EXPECT_EQ(trace.count("Translation cache miss"), 2u);
    EXPECT_EQ(trace.count("Translation cache hit"), 4u);
}

TEST_F(KeyCodeTranslation, ASourceWithoutLayoutDataFails) {
    KRKeyCodeTranslator translator(SimulatedTextInput::inputMethodWithoutLayout());
    EXPECT_EQ(translator.translateKeyCode(0, 0, 0, true), std::nullopt);
    EXPECT_EQ(trace.count("#Error Unable to translate keyCode 0 and modifierFlags 0: -50"), 1u);
}

TEST_F(KeyCodeTranslation, AFailedTranslationIsTriedAgainOnTheNextCall) {
    KRKeyCodeTranslator translator(SimulatedTextInput::usLayout());
    SimulatedTextInput::setTranslateStatus(-25340);
    EXPECT_EQ(translator.translateKeyCode(19, NSEventModifierFlagShift | NSEventModifierFlagCommand, 0, true),
              std::nullopt);
    EXPECT_EQ(trace.count("#Error Unable to translate keyCode 19 and modifierFlags 1179648: -25340"), 1u);
    SimulatedTextInput::setTranslateStatus(noErr);

    SimulatedTextInput::setTranslatesToNothing(true);
    EXPECT_EQ(translator.translateKeyCode(19, NSEventModifierFlagShift, 0, true), std::nullopt);
    EXPECT_EQ(trace.count("#Error No translation exists for keyCode 19 and modifierFlags 131072"), 1u);
    SimulatedTextInput::setTranslatesToNothing(false);

    EXPECT_EQ(translator.translateKeyCode(19, NSEventModifierFlagShift, 0, true), "@");
    // A dead key types nothing by itself either.
    EXPECT_EQ(translator.translateKeyCode(14, NSEventModifierFlagOption, 0, true), std::nullopt);
}

TEST(KeyCodeTranslatorCacheKey, EqualityAndHash) {
    using Key = KRKeyCodeTranslatorCacheKey;
    const Key key("us", NSEventModifierFlagShift | NSEventModifierFlagCapsLock, NSEventModifierFlagCommand,
                  7);
    EXPECT_EQ(key.implicitModifierFlags(), NSEventModifierFlagShift);
    EXPECT_EQ(key.hash(),
              size_t(7) | (0x20000 >> 1) | (size_t(0x100000) << 3) | (std::hash<std::string>{}("us") << 24));
    EXPECT_EQ(key, Key("us", NSEventModifierFlagShift,
                       NSEventModifierFlagCommand | NSEventModifierFlagFunction, 7));
    for (const Key& other :
         {Key("de", NSEventModifierFlagShift, NSEventModifierFlagCommand, 7),
          Key("us", 0, NSEventModifierFlagCommand, 7), Key("us", NSEventModifierFlagShift, 0, 7),
          Key("us", NSEventModifierFlagShift, NSEventModifierFlagCommand, 8)})
        EXPECT_FALSE(key == other);
}

TEST(KnownKeyCodes, AreTheHundredAndThreeKeysWithoutKeypadClear) {
    const auto& codes = KRKeyCodeTransformer::knownKeyCodes();
    EXPECT_EQ(codes.size(), 103u);
    EXPECT_EQ(std::set<uint16_t>(codes.begin(), codes.end()).size(), 103u);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 71), 0);
    EXPECT_EQ(codes.front(), 29);
    EXPECT_EQ(codes.back(), 126);
    EXPECT_EQ(&codes, &KRKeyCodeTransformer::knownKeyCodes());
}

using ReverseMap = KeyboardTest;

TEST_F(ReverseMap, FollowsTheSelectedASCIICapableLayout) {
    KRKeyCodeASCIITranslator translator{
        KRKeyCodeTranslator::InputSourceCreator(&TISCopyCurrentASCIICapableKeyboardLayoutInputSource)};
    EXPECT_EQ(translator.keyCodeForTranslation("z"), 6);
    EXPECT_EQ(translator.keyCodeForTranslation("y"), 16);
    EXPECT_EQ(trace.count("Updating translation -> key code mapping"), 1u);

    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::qwertzLayout()), noErr);
    EXPECT_EQ(translator.keyCodeForTranslation("z"), 16);
    EXPECT_EQ(translator.keyCodeForTranslation("y"), 6);
    EXPECT_EQ(trace.count("Updating translation -> key code mapping"), 2u);

    // A layout that types no ASCII leaves the ASCII-capable one in place.
    ASSERT_EQ(TISSelectInputSource(SimulatedTextInput::greekLayout()), noErr);
    EXPECT_EQ(translator.keyCodeForTranslation("z"), 16);
    EXPECT_EQ(trace.count("Updating translation -> key code mapping"), 2u);
}

TEST_F(ReverseMap, KeysTypingTheSameStringAnswerWithTheLaterKnownCode) {
    KRKeyCodeASCIITranslator translator(SimulatedTextInput::usLayout());
    EXPECT_EQ(translator.keyCodeForTranslation("1"), 83);  // keypad 1 comes after the main-row 1
    EXPECT_EQ(translator.keyCodeForTranslation("-"), 27);  // here the main-row key is the later one
    EXPECT_EQ(translator.keyCodeForTranslation("\r"), 36);
    EXPECT_EQ(translator.keyCodeForTranslation("\x03"), 76);
    EXPECT_EQ(translator.keyCodeForTranslation("ω"), std::nullopt);
    EXPECT_EQ(translator.keyCodeForTranslation(""), std::nullopt);
}

TEST_F(ReverseMap, NeedsASourceWithAnID) {
    KRKeyCodeASCIITranslator none(
        KRKeyCodeTranslator::InputSourceCreator([] { return TISInputSourceRef(); }));
    EXPECT_EQ(none.keyCodeForTranslation("a"), std::nullopt);
    EXPECT_EQ(trace.count("#Critical Failed to create an input source"), 1u);

    KRKeyCodeASCIITranslator withoutID(std::make_shared<const TISInputSource>(std::nullopt, true, nullptr));
    EXPECT_EQ(withoutID.keyCodeForTranslation("a"), std::nullopt);
    EXPECT_EQ(trace.count("#Error Input source misses an ID"), 1u);
}

TEST_F(ReverseMap, ANonLowercaseArgumentRaisesThroughTheAssertionHandler) {
    KRKeyCodeASCIITranslator translator(SimulatedTextInput::usLayout());
    for (const char* text : {"Z", "É", "aB"}) {
        try {
            translator.keyCodeForTranslation(text);
            ADD_FAILURE() << text << " did not raise";
        } catch (const Exception& e) {
            EXPECT_EQ(e.name(), NSInternalInconsistencyException);
            EXPECT_EQ(e.reason(), "aTranslation must be a lowercase string");
        }
    }
    EXPECT_EQ(translator.keyCodeForTranslation("é"), std::nullopt);
}

}  // namespace

namespace {

// Threads translate and look up while the layout changes under them: every answer is one that some
// selected layout gives, and nothing is lost or torn.
TEST_F(ReverseMap, ThreadsMayCallInWhileTheLayoutChanges) {
    auto translator = std::make_shared<KRKeyCodeASCIITranslator>(
        KRKeyCodeTranslator::InputSourceCreator(&TISCopyCurrentASCIICapableKeyboardLayoutInputSource));
    std::mutex mutex;
    std::set<std::optional<uint16_t>> keyCodes;
    std::set<std::optional<std::string>> typed;
    std::vector<std::future<void>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [&] {
            for (int i = 0; i < 200; ++i) {
                auto code = translator->keyCodeForTranslation("z");
                auto text = translator->translateKeyCode(6, 0, 0, true);
                std::lock_guard lock(mutex);
                keyCodes.insert(code);
                typed.insert(text);
            }
        }));
    }
    for (int i = 0; i < 100; ++i)
        TISSelectInputSource(i % 2 ? SimulatedTextInput::usLayout() : SimulatedTextInput::qwertzLayout());
    for (auto& worker : workers) ASSERT_EQ(worker.wait_for(kTestPatience), std::future_status::ready);
    for (const auto& code : keyCodes) EXPECT_TRUE(code == 6 || code == 16);
    for (const auto& text : typed) EXPECT_TRUE(text == "z" || text == "y");
}

}  // namespace
