#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>

#include "platform/appkit/NSApplication.h"
#include "shortcut_recorder/tests/StyleFixture.h"
#include "testing/ChildProcess.h"

namespace {

using Components = KRRecorderControlStyleComponents;

class KRStyleComponents : public StyleTest {};

TEST_F(KRStyleComponents, AppearanceNamesOnACurrentSystem) {
    const std::pair<const char*, uint64_t> rows[] = {
        {NSAppearanceNameAqua, 1},
        {NSAppearanceNameVibrantLight, 2},
        {NSAppearanceNameDarkAqua, 3},
        {NSAppearanceNameVibrantDark, 4},
        {NSAppearanceNameAccessibilityHighContrastAqua, 1},
        {NSAppearanceNameAccessibilityHighContrastDarkAqua, 3},
        {NSAppearanceNameAccessibilityHighContrastVibrantDark, 4},
        {"NoSuchAppearance", 0},
    };
    for (const auto& [name, number] : rows)
        EXPECT_EQ(KRComponentsAppearanceForAppearanceName(name), number) << name;
    for (uint64_t a : {1, 2, 3, 4})
        EXPECT_EQ(KRComponentsAppearanceForAppearanceName(KRAppearanceNameForComponentsAppearance(a)), a);
    for (uint64_t a : {0, 5})
        EXPECT_EQ(raisedReason([&] { KRAppearanceNameForComponentsAppearance(a); }),
                  std::to_string(a) + " cannot be represented as NSAppearanceName");
}

// The name table is made once per process, for the system it runs on: a child process that
// presents itself as 10.13 from the start.
TEST(KRStyleComponentsChild, OlderSystemKnowsNoDarkAqua) {
    if (!std::getenv("KR_OLDER_SYSTEM_CHILD")) GTEST_SKIP() << "runs as a child process only";
    ProcessInfo::setOperatingSystemVersion({10, 13, 6});
    EXPECT_EQ(KRComponentsAppearanceForAppearanceName(NSAppearanceNameDarkAqua), 0u);
    EXPECT_EQ(KRComponentsAppearanceForAppearanceName(NSAppearanceNameAccessibilityHighContrastAqua), 0u);
    EXPECT_EQ(KRComponentsAppearanceForAppearanceName(NSAppearanceNameAqua), 1u);
    EXPECT_EQ(raisedReason([] { KRAppearanceNameForComponentsAppearance(3); }),
              "3 cannot be represented as NSAppearanceName");
    EXPECT_EQ(KRAppearanceNameForComponentsAppearance(4), NSAppearanceNameVibrantDark);
    EXPECT_EQ(KRRecorderControlStyle::init()->identifier(), "sr-yosemite");
}

TEST(KRStyleComponentsOlderSystem, RunsInAChildProcess) {
    pid_t child = spawnThisTestBinary("KRStyleComponentsChild.OlderSystemKnowsNoDarkAqua",
                                      {.environment = {"KR_OLDER_SYSTEM_CHILD=1"}, .quiet = true});
    ASSERT_GT(child, 0);
    auto status = waitForChild(child);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(KRStyleComponents, TintsAndDirections) {
    EXPECT_EQ(KRComponentsTintForControlTint(NSDefaultControlTint), 0u);
    EXPECT_EQ(KRComponentsTintForControlTint(NSBlueControlTint), 1u);
    EXPECT_EQ(KRComponentsTintForControlTint(NSGraphiteControlTint), 2u);
    EXPECT_EQ(KRComponentsTintForControlTint(NSClearControlTint), 0u);
    EXPECT_EQ(KRControlTintForComponentsTint(1), NSBlueControlTint);
    EXPECT_EQ(KRControlTintForComponentsTint(2), NSGraphiteControlTint);
    for (uint64_t t : {0, 3})
        EXPECT_EQ(raisedReason([&] { KRControlTintForComponentsTint(t); }),
                  std::to_string(t) + " cannot be represented as NSControlTint");

    EXPECT_EQ(KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(
                  NSUserInterfaceLayoutDirection::LeftToRight),
              1u);
    EXPECT_EQ(KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(
                  NSUserInterfaceLayoutDirection::RightToLeft),
              2u);
    EXPECT_EQ(KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection(7)),
              0u);
    auto rtl = NSUserInterfaceLayoutDirection::RightToLeft;
    EXPECT_EQ(KRUserInterfaceLayoutDirectionForComponentsLayoutDirection(
                  KRComponentsLayoutDirectionForUserInterfaceLayoutDirection(rtl)),
              rtl);
    for (uint64_t d : {0, 3})
        EXPECT_EQ(raisedReason([&] { KRUserInterfaceLayoutDirectionForComponentsLayoutDirection(d); }),
                  std::to_string(d) + " cannot be represented as NSUserInterfaceLayoutDirection");
}

TEST_F(KRStyleComponents, StringRepresentations) {
    auto none = Components::init();
    EXPECT_EQ(none->stringRepresentation(), "");
    EXPECT_FALSE(none->isSpecified());
    struct Row {
        uint64_t appearance, accessibility, direction, tint;
        const char* text;
        bool specified;
    };
    const Row rows[] = {
        {1, 1, 2, 2, "-aqua-rtl-graphite", true},
        {3, 2, 1, 1, "-darkaqua-acc-ltr-blue", true},
        {2, 0, 0, 0, "-vibrantlight", false},
        {4, 1, 1, 0, "-vibrantdark-ltr", false},
    };
    for (const auto& r : rows) {
        auto c = Components::initWithAppearance(r.appearance, r.accessibility, r.direction, r.tint);
        EXPECT_EQ(c->stringRepresentation(), r.text);
        EXPECT_EQ(c->description(), r.text);
        EXPECT_EQ(c->isSpecified(), r.specified) << r.text;
    }
}

TEST_F(KRStyleComponents, OutOfRangeValuesAreRefusedInOrder) {
    struct Row {
        uint64_t appearance, accessibility, direction, tint;
        const char* reason;
    };
    const Row rows[] = {
        {5, 0, 0, 0, "anAppearance is outside of the allowed range."},
        {0, 0, 0, 3, "aTint is outside of the allowed range."},
        {0, 4, 0, 0, "anAccessibility is outside of the allowed range."},
        {0, 3, 0, 0, "None cannot be combined with other accessibility options."},
        {0, 0, 3, 0, "aDirection is outside of the allowed range."},
        {5, 4, 3, 3, "anAppearance is outside of the allowed range."},
        {0, 4, 3, 3, "aTint is outside of the allowed range."},
        {0, 3, 3, 0, "None cannot be combined with other accessibility options."},
    };
    for (const auto& r : rows)
        EXPECT_EQ(raisedReason([&] {
                      Components::initWithAppearance(r.appearance, r.accessibility, r.direction, r.tint);
                  }),
                  r.reason);
}

TEST_F(KRStyleComponents, EqualityHashAndCopy) {
    auto a = Components::initWithAppearance(3, 2, 1, 1);
    auto b = Components::initWithAppearance(3, 2, 1, 1);
    auto c = Components::initWithAppearance(3, 2, 1, 2);
    EXPECT_TRUE(a->isEqual(b.get()));
    EXPECT_FALSE(a->isEqual(c.get()));
    EXPECT_FALSE(a->isEqual(nullptr));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_EQ(a->hash(), 1u | (1u << 2) | (3u << 4) | (2u << 7));
    EXPECT_EQ(a->copy(), a);
}

TEST_F(KRStyleComponents, CurrentComponentsFollowTheSystemAndTheView) {
    EXPECT_TRUE(Components::currentComponents()->isEqual(Components::initWithAppearance(1, 1, 1, 1).get()));

    NSWorkspace::sharedWorkspace()->setAccessibilityDisplayShouldIncreaseContrast(true);
    NSAppearance::setCurrentAppearance(NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua));
    NSColor::setCurrentControlTint(NSGraphiteControlTint);
    NSApplication::sharedApplication()->setUserInterfaceLayoutDirection(
        NSUserInterfaceLayoutDirection::RightToLeft);
    EXPECT_TRUE(Components::currentComponents()->isEqual(Components::initWithAppearance(3, 2, 2, 2).get()));

    // A view's own look outranks the application's.
    auto superview = std::make_shared<NSView>();
    auto view = std::make_shared<NSView>();
    superview->addSubview(view);
    superview->setAppearance(NSAppearance::appearanceNamed(NSAppearanceNameVibrantLight));
    view->setUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection::LeftToRight);
    NSWorkspace::sharedWorkspace()->setAccessibilityDisplayShouldIncreaseContrast(false);
    NSColor::setCurrentControlTint(NSClearControlTint);
    EXPECT_TRUE(Components::currentComponentsForView(view.get())
                    ->isEqual(Components::initWithAppearance(2, 1, 1, 0).get()));
}

// Sorts `candidates` stably by closeness to `relative`, as the resource loader does.
std::vector<std::string> sorted(std::vector<KRComponentsPtr> candidates, const KRComponentsPtr& relative) {
    std::stable_sort(candidates.begin(), candidates.end(),
                     [&](const KRComponentsPtr& a, const KRComponentsPtr& b) {
                         return a->compare(*b, *relative) == NSComparisonResult::OrderedAscending;
                     });
    std::vector<std::string> out;
    for (const auto& c : candidates) out.push_back(c->stringRepresentation());
    return out;
}

TEST_F(KRStyleComponents, OrderingByClosenessToTheRelative) {
    auto make = Components::initWithAppearance;
    struct Row {
        KRComponentsPtr relative;
        std::vector<KRComponentsPtr> candidates;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        // Appearance decides before anything else matches.
        {make(3, 1, 1, 1), {make(1, 1, 1, 1), make(4, 0, 0, 0)}, {"-vibrantdark", "-aqua-ltr-blue"}},
        {make(1, 0, 0, 0),
         {make(0, 0, 0, 0), make(4, 0, 0, 0), make(3, 0, 0, 0), make(2, 0, 0, 0), make(1, 0, 0, 0)},
         {"-aqua", "-vibrantlight", "-darkaqua", "-vibrantdark", ""}},
        {make(2, 0, 0, 0),
         {make(0, 0, 0, 0), make(3, 0, 0, 0), make(4, 0, 0, 0), make(1, 0, 0, 0), make(2, 0, 0, 0)},
         {"-vibrantlight", "-aqua", "-vibrantdark", "-darkaqua", ""}},
        {make(4, 0, 0, 0),
         {make(1, 0, 0, 0), make(2, 0, 0, 0), make(3, 0, 0, 0), make(4, 0, 0, 0)},
         {"-vibrantdark", "-darkaqua", "-vibrantlight", "-aqua"}},
        // An unspecified relative appearance leaves the given order, even where a later field differs.
        {make(0, 1, 1, 1), {make(2, 0, 2, 0), make(1, 0, 1, 0)}, {"-vibrantlight-rtl", "-aqua-ltr"}},
        // Accessibility relative to none, then to high contrast.
        {make(1, 1, 1, 1),
         {make(1, 2, 0, 0), make(1, 0, 0, 0), make(1, 1, 0, 0)},
         {"-aqua", "-aqua", "-aqua-acc"}},
        {make(1, 2, 1, 1),
         {make(1, 1, 0, 0), make(1, 0, 0, 0), make(1, 2, 0, 0)},
         {"-aqua-acc", "-aqua", "-aqua"}},
        // Direction and tint: the relative's value, the other one, unspecified.
        {make(1, 1, 2, 1),
         {make(1, 1, 0, 0), make(1, 1, 1, 0), make(1, 1, 2, 0)},
         {"-aqua-rtl", "-aqua-ltr", "-aqua"}},
        {make(1, 1, 1, 2),
         {make(1, 1, 1, 0), make(1, 1, 1, 1), make(1, 1, 1, 2)},
         {"-aqua-ltr-graphite", "-aqua-ltr-blue", "-aqua-ltr"}},
    };
    for (const auto& r : rows)
        EXPECT_EQ(sorted(r.candidates, r.relative), r.expected) << r.relative->description();

    // Of the two accessibility "-aqua" entries above, none comes before unspecified relative to none.
    auto noneFirst = make(1, 1, 0, 0);
    EXPECT_EQ(noneFirst->compare(*make(1, 0, 0, 0), *make(1, 1, 1, 1)), NSComparisonResult::OrderedAscending);
    EXPECT_EQ(make(1, 0, 0, 0)->compare(*make(1, 0, 0, 0), *make(1, 1, 1, 1)),
              NSComparisonResult::OrderedSame);
}

}  // namespace
