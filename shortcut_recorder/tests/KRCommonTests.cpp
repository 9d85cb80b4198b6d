#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <random>

#include "platform/foundation/Exception.h"
#include "shortcut_recorder/KRCommon.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"
#include "shortcut_recorder/KRModifierFlagsTransformer.h"
#include "testing/ChildProcess.h"
#include "testing/EnvironmentOverride.h"

namespace {

std::filesystem::path freshDirectory(const std::string& name) {
    const char* base = std::getenv("QUORVANE_TEST_TMP");
    std::random_device random;
    auto dir = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().c_str()) /
               (name + "-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
    return dir;
}

void writeText(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

TEST(KRResources, TheBundleIsFoundBesideTheLibrarysCode) {
    EnvironmentOverride environment;
    environment.set("QUORVANE_RESOURCES", nullptr);
    environment.set("LANGUAGE", "en");
    auto bundle = KRResourceBundle();
    EXPECT_EQ(bundle->bundlePath().filename(), "KeyRecorder_KeyRecorder.bundle");
    EXPECT_EQ(bundle->bundlePath().parent_path(), std::filesystem::canonical("/proc/self/exe").parent_path());
    EXPECT_FALSE(bundle->buildVersion().empty());
    for (const char* key :
         {"Command-", "Option-", "Control-", "Shift-", "Control", "Option", "Shift", "Command", "-", "Space"})
        EXPECT_EQ(KRLocalizedString(key), key);
    EXPECT_EQ(KRLocalizedString("No such key"), "No such key");
    EXPECT_EQ(KRImage("no-such-image"), nullptr);
}

TEST(KRResources, TheProgramsResourcesComeFirst) {
    auto resources = freshDirectory("resources");
    auto bundle = resources / "KeyRecorder_KeyRecorder.bundle";
    writeText(bundle / "en.lproj" / "KeyRecorder.strings",
              R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
              R"(<key>Space</key><string>Main Space</string></dict></plist>)");
    writeText(bundle / "badge.svg",
              R"(<svg xmlns="http://www.w3.org/2000/svg" width="12" height="8"></svg>)");
    EnvironmentOverride environment;
    environment.set("QUORVANE_RESOURCES", resources.c_str());
    environment.set("LANGUAGE", "en");

    EXPECT_EQ(KRLocalizedString("Space"), "Main Space");
    auto image = KRImage("badge");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size().width, 12);
    EXPECT_EQ(KRLiteralKeyCodeTransformer::sharedTransformer()->literalForKeyCode(
                  49, 0, 0, NSUserInterfaceLayoutDirection::LeftToRight),
              "Main Space");
    std::filesystem::remove_all(resources);
}

// Runs only as the child of WithoutTheBundleEveryLookupRaises, from a copy of this binary in a
// directory that holds no bundle.
TEST(KRResourcesChild, EveryLookupRaises) {
    if (!std::getenv("KR_RESOURCES_CHILD")) GTEST_SKIP() << "runs as a child process only";
    const std::function<void()> lookups[] = {
        [] { KRResourceBundle(); },
        [] { KRLocalizedString("Space"); },
        [] { KRImage("badge"); },
        [] {
            KRLiteralKeyCodeTransformer::sharedTransformer()->literalForKeyCode(
                49, 0, 0, NSUserInterfaceLayoutDirection::LeftToRight);
        },
        [] {
            KRLiteralModifierFlagsTransformer::sharedTransformer()->transformedValue(
                AnyObject(Value(0x20000)));
        },
    };
    for (const auto& lookup : lookups) {
        try {
            lookup();
            ADD_FAILURE() << "a lookup did not raise";
        } catch (const Exception& e) {
            EXPECT_EQ(e.reason(), "unable to find bundle named KeyRecorder_KeyRecorder");
        }
    }
}

TEST(KRResources, WithoutTheBundleEveryLookupRaises) {
    auto dir = freshDirectory("no-bundle");
    auto copy = dir / "shortcut_recorder_tests";
    std::filesystem::copy_file("/proc/self/exe", copy);
    std::filesystem::create_directories(dir / "Resources");
    const pid_t child =
        spawnChild({copy.string(), "--gtest_filter=KRResourcesChild.EveryLookupRaises"},
                   {.environment = {"KR_RESOURCES_CHILD=1", "QUORVANE_RESOURCES="}, .quiet = true});
    ASSERT_GT(child, 0);
    const auto status = waitForChild(child);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    std::filesystem::remove_all(dir);
}

// A small class tree: Derived overrides the comparison, the siblings inherit Base's until one
// gets its own; Stranger shares no ancestor.
struct Object {
    virtual ~Object() = default;
    virtual const KRClass<Object>& objectClass() const = 0;
    int id = 0;
    bool isEqual(const Object* other) const;
};
bool compareIDs(const Object& a, const Object& b) {
    return a.id == b.id;
}
bool neverEqual(const Object&, const Object&) {
    return false;
}
bool alwaysEqual(const Object&, const Object&) {
    return true;
}
const KRClass<Object> kBase{nullptr, &compareIDs};
const KRClass<Object> kDerived{&kBase, &alwaysEqual};
const KRClass<Object> kSiblingA{&kBase, &compareIDs};
KRClass<Object> siblingB{&kBase, &compareIDs};
const KRClass<Object> kStranger{nullptr, &compareIDs};

struct Instance : Object {
    Instance(const KRClass<Object>& cls, int identifier) : cls(cls) { id = identifier; }
    const KRClass<Object>& objectClass() const override { return cls; }
    const KRClass<Object>& cls;
};
bool Object::isEqual(const Object* other) const {
    return KR_isEqual(*this, other, kBase);
}

TEST(KRCooperativeEquality, TheMoreDerivedClassDecides) {
    Instance base(kBase, 1), derived(kDerived, 2), otherBase(kBase, 1);
    EXPECT_TRUE(base.isEqual(&base));
    EXPECT_FALSE(base.isEqual(nullptr));
    EXPECT_TRUE(base.isEqual(&otherBase));
    EXPECT_TRUE(base.isEqual(&derived));  // Derived's comparison answers, in both directions
    EXPECT_TRUE(derived.isEqual(&base));
    Instance stranger(kStranger, 1);
    EXPECT_FALSE(base.isEqual(&stranger));
}

TEST(KRCooperativeEquality, SiblingsCompareByTheAncestorWhileNeitherOverrides) {
    Instance a(kSiblingA, 3), b(siblingB, 3), c(siblingB, 4);
    EXPECT_TRUE(a.isEqual(&b));
    EXPECT_TRUE(b.isEqual(&a));
    EXPECT_FALSE(a.isEqual(&c));
    siblingB.comparison = &alwaysEqual;
    EXPECT_FALSE(a.isEqual(&b));
    EXPECT_FALSE(b.isEqual(&a));
    siblingB.comparison = &neverEqual;
    EXPECT_FALSE(b.isEqual(&a));
    siblingB.comparison = &compareIDs;
}

TEST(KRCooperativeEquality, AReceiverOutsideTheAncestorIsAProgrammingError) {
    Instance stranger(kStranger, 1), sibling(kSiblingA, 1);
    try {
        KR_isEqual<Object>(stranger, &sibling, kBase);
        FAIL() << "did not raise";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), NSInternalInconsistencyException);
        EXPECT_EQ(e.reason(), "Receiver must be an instance of the specified ancestor.");
    }
}

}  // namespace
