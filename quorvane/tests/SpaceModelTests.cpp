#include <gtest/gtest.h>

#include "platform/foundation/PropertyList.h"
#include "quorvane/ModifierFlag.h"
#include "quorvane/UserDefaultsManager.h"
#include "quorvane/Workspace.h"

namespace {
const ArchiveClassList kClasses{Workspace::archiveClass(), Group::archiveClass(), MASShortcut::archiveClass(),
                                ArchiveClass::platform("NSArray"), ArchiveClass::platform("NSString")};

template <class T>
std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& object) {
    auto data = KeyedArchiver::archivedDataWithRootObject(Archived(object), true);
    EXPECT_TRUE(data);
    if (!data) return nullptr;
    Error error;
    auto decoded = KeyedUnarchiver::unarchivedObject(*data, kClasses, &error);
    EXPECT_TRUE(decoded) << error.description;
    return decoded ? decoded->objectAs<T>() : nullptr;
}

// Writes what an archived space or workspace may hold, key by key, under the real class names:
// the shapes the agent itself never writes.
class HandWritten : public Codable {
  public:
    HandWritten(std::string className, std::vector<std::pair<std::string, Archived>> entries)
        : className_(std::move(className)), entries_(std::move(entries)) {}
    std::string archiveClassName() const override { return className_; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        for (const auto& [key, value] : entries_) coder.encodeObject(value, key);
    }
    bool initWithCoder(KeyedUnarchiver&) override { return false; }

  private:
    std::string className_;
    std::vector<std::pair<std::string, Archived>> entries_;
};

std::optional<Archived> unarchiveHandWritten(std::shared_ptr<HandWritten> object, Error* error = nullptr) {
    auto data = KeyedArchiver::archivedDataWithRootObject(Archived(CodablePtr(object)), false);
    EXPECT_TRUE(data);
    return KeyedUnarchiver::unarchivedObject(*data, kClasses, error);
}

Archived numbers(std::vector<double> values) {
    return Archived(Value(Value::Array(values.begin(), values.end())));
}
}  // namespace

TEST(SpaceModel, GroupRoundTripsWithAndWithoutShortcut) {
    auto shortcut = MASShortcut::shortcutWithKeyCode(18, 0x180000);
    auto group = std::make_shared<Group>("Left", shortcut, Coordinates{0, 25, 720, 900});
    auto decoded = roundTrip(group);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->name(), "Left");
    EXPECT_EQ(decoded->coordinates(), (Coordinates{0, 25, 720, 900}));
    ASSERT_TRUE(decoded->shortcut());
    EXPECT_EQ(*decoded->shortcut(), *shortcut);
    EXPECT_EQ(decoded->size(), "all");

    auto plain = roundTrip(std::make_shared<Group>("Right", nullptr, Coordinates{720, 25, 1440, 900}));
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->shortcut());
}

TEST(SpaceModel, StrictSizeRoundTrips) {
    auto group = std::make_shared<Group>("Top", nullptr, Coordinates{0, 0, 10, 10});
    group->setSize("10");
    auto decoded = roundTrip(group);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), "10");
}

TEST(SpaceModel, ShortcutOfAnotherTypeDecodesAsNone) {
    auto decoded = unarchiveHandWritten(std::make_shared<HandWritten>(
        Group::kClassName,
        std::vector<std::pair<std::string, Archived>>{
            {"name", "Left"}, {"coordinates", numbers({0, 0, 5, 5})}, {"shortcut", "⌘1"}, {"size", "all"}}));
    ASSERT_TRUE(decoded);
    auto group = decoded->objectAs<Group>();
    ASSERT_TRUE(group);
    EXPECT_FALSE(group->shortcut());
}

TEST(SpaceModel, IncompleteGroupIsRejected) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, Archived>> entries;
    } cases[] = {
        {"no name", {{"coordinates", numbers({0, 0, 5, 5})}, {"size", "all"}}},
        {"name not a string",
         {{"name", Archived(Value(7))}, {"coordinates", numbers({0, 0, 5, 5})}, {"size", "all"}}},
        {"three coordinates", {{"name", "A"}, {"coordinates", numbers({0, 0, 5})}, {"size", "all"}}},
        {"coordinate not a number",
         {{"name", "A"}, {"coordinates", Archived(Value(Value::Array{0, "x", 5, 5}))}, {"size", "all"}}},
        {"no size", {{"name", "A"}, {"coordinates", numbers({0, 0, 5, 5})}}},
        {"size not a number", {{"name", "A"}, {"coordinates", numbers({0, 0, 5, 5})}, {"size", "wide"}}},
    };
    for (auto& c : cases) {
        Error error;
        EXPECT_FALSE(
            unarchiveHandWritten(std::make_shared<HandWritten>(Group::kClassName, c.entries), &error))
            << c.what;
        EXPECT_EQ(error.domain, kFoundationErrorDomain) << c.what;
    }
}

TEST(SpaceModel, WorkspaceWithoutGroupsDecodesWithEmptyList) {
    auto screens = Archived(Value(Value::Array{Value::Array{0, 0, 1440, 900}}));
    for (auto entries :
         {std::vector<std::pair<std::string, Archived>>{{"screens", screens}},
          std::vector<std::pair<std::string, Archived>>{{"screens", screens}, {"groups", "none"}}}) {
        auto decoded = unarchiveHandWritten(std::make_shared<HandWritten>(Workspace::kClassName, entries));
        ASSERT_TRUE(decoded);
        auto workspace = decoded->objectAs<Workspace>();
        ASSERT_TRUE(workspace);
        EXPECT_EQ(workspace->screens(), (std::vector<CGRect>{{0, 0, 1440, 900}}));
        EXPECT_TRUE(workspace->groups().empty());
    }
}

TEST(SpaceModel, WorkspaceWithoutScreensIsRejected) {
    for (auto entries :
         {std::vector<std::pair<std::string, Archived>>{{"groups", Archived(Archived::Array{})}},
          std::vector<std::pair<std::string, Archived>>{{"screens", numbers({0, 0, 1, 1})}}}) {
        EXPECT_FALSE(unarchiveHandWritten(std::make_shared<HandWritten>(Workspace::kClassName, entries)));
    }
}

TEST(SpaceModel, WorkspaceRoundTripsItsGroupsInOrder) {
    auto workspace =
        std::make_shared<Workspace>(std::vector<CGRect>{{0, 0, 1440, 900}, {1440, -180, 1920, 1080}});
    workspace->setGroups({std::make_shared<Group>("A", nullptr, Coordinates{0, 0, 1, 1}),
                          std::make_shared<Group>("B", nullptr, Coordinates{1, 1, 2, 2})});
    auto decoded = roundTrip(workspace);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->screens(), workspace->screens());
    ASSERT_EQ(decoded->groups().size(), 2u);
    EXPECT_EQ(decoded->groups()[1]->name(), "B");
}

TEST(SpaceModel, SecureCodingIsAClassWideSwitch) {
    auto group = std::make_shared<Group>("A", nullptr, Coordinates{0, 0, 1, 1});
    Group::setSupportsSecureCoding(false);
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Archived(group), true));
    EXPECT_TRUE(KeyedArchiver::archivedDataWithRootObject(Archived(group), false));
    Group::setSupportsSecureCoding(true);
    EXPECT_TRUE(KeyedArchiver::archivedDataWithRootObject(Archived(group), true));
}

TEST(SpaceModel, ModifierFlagCoding) {
    auto none = PropertyListEncoder().encode(ModifierFlag(std::nullopt));
    ASSERT_TRUE(none);
    EXPECT_EQ(plist::read(*none), Value(Dictionary{}));
    auto noneBack = PropertyListDecoder().decode<ModifierFlag>(*none);
    ASSERT_TRUE(noneBack);
    EXPECT_FALSE(noneBack->key());

    auto shift = PropertyListEncoder().encode(ModifierFlag(NSEventModifierFlagShift));
    ASSERT_TRUE(shift);
    EXPECT_EQ(plist::read(*shift), Value(Dictionary{{"key", 131072}}));
    auto shiftBack = PropertyListDecoder().decode<ModifierFlag>(*shift);
    ASSERT_TRUE(shiftBack);
    EXPECT_EQ(shiftBack->key(), 131072u);
}

TEST(SpaceModel, SpaceSizes) {
    struct Case {
        const char* text;
        bool valid;
        std::optional<CGFloat> tolerance;  // none: loose
    } cases[] = {
        {"all", true, std::nullopt},
        {"10", true, 10.0},
        {"+10", true, 10.0},
        {"-5", true, -5.0},
        {"0", true, 0.0},
        {"", false, {}},
        {"All", false, {}},
        {"+-5", false, {}},
        {"1.5", false, {}},
        {" 10", false, {}},
        {"10px", false, {}},
        {"+", false, {}},
        {"99999999999999999999", false, {}},
    };
    for (auto& c : cases) {
        auto size = readSpaceSize(c.text);
        ASSERT_EQ(size.has_value(), c.valid) << c.text;
        if (size) {
            EXPECT_EQ(size->strictTolerance, c.tolerance) << c.text;
        }
    }
}
