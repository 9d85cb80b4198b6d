#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/testing/TestHome.h"
#include "platform/foundation/tests/ArchiveTestObjects.h"

namespace {

using namespace archive_fixtures;

// The same fields, archived under the class's former name.
class FormerTag : public Tag {
  public:
    std::string archiveClassName() const override { return "QVFormerTag"; }
};

class InsecureTag : public Tag {
  public:
    std::string archiveClassName() const override { return "QVInsecureTag"; }
    bool supportsSecureCoding() const override { return false; }
};

void expectSameTag(const std::shared_ptr<Tag>& a, const std::shared_ptr<Tag>& b) {
    ASSERT_EQ(!a, !b);
    if (!a) return;
    EXPECT_EQ(a->name, b->name);
    EXPECT_EQ(a->weight, b->weight);
}

std::pair<int, std::string> runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, output};
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    return {pclose(pipe), output};
}

TEST(KeyedArchiver, ObjectGraphRoundTripsAsABinaryPropertyList) {
    TestHome home;
    for (bool withPinned : {false, true}) {
        SCOPED_TRACE(withPinned ? "with pinned tag" : "without pinned tag");
        auto board = makeBoard(withPinned);
        Error error;
        auto data = KeyedArchiver::archivedDataWithRootObject(board, true, &error);
        ASSERT_TRUE(data) << error.description;

        const auto file = home.path() / "board.archive";
        ASSERT_TRUE(FileLocations::writeFileAtomically(file, *data));
        auto [status, printed] = runCommand("plistutil -i '" + file.string() + "'");
        EXPECT_EQ(status, 0);
        EXPECT_NE(printed.find("$archiver"), std::string::npos);

        auto decoded = KeyedUnarchiver::unarchivedObject(*data, kBoardClasses, &error);
        ASSERT_TRUE(decoded) << error.description;
        auto back = decoded->objectAs<Board>();
        ASSERT_TRUE(back);
        ASSERT_EQ(back->tags.size(), 2u);
        expectSameTag(back->tags[0], board->tags[0]);
        expectSameTag(back->tags[1], board->tags[1]);
        expectSameTag(back->pinned, board->pinned);
        EXPECT_EQ(back->title, board->title);
        EXPECT_EQ(back->scores, board->scores);
        EXPECT_EQ(back->created, board->created);
        EXPECT_EQ(back->ratio, board->ratio);
        EXPECT_EQ(back->open, board->open);
        EXPECT_EQ(back->serial, board->serial);
        EXPECT_EQ(back->firstNote, "first");
        EXPECT_EQ(back->secondNote, 2);
    }
}

// What other readers of the platform's archives rely on: the envelope, "$null" first, inline
// scalars, and one class entry shared by every object of that class.
TEST(KeyedArchiver, WritesThePlatformArchiveStructure) {
    auto data = KeyedArchiver::archivedDataWithRootObject(makeBoard(true), true);
    ASSERT_TRUE(data);
    auto archive = plist::read(*data);
    ASSERT_TRUE(archive);
    EXPECT_EQ(data->at(0), 'b');
    EXPECT_EQ((*archive)["$archiver"], Value("NSKeyedArchiver"));
    EXPECT_EQ((*archive)["$version"], Value(100000));
    EXPECT_EQ((*archive)["$top"]["root"]["CF$UID"], Value(1));
    const auto& objects = *(*archive)["$objects"].asArray();
    EXPECT_EQ(objects[0], Value("$null"));

    const Value& board = objects[1];
    EXPECT_EQ(board["serial"], Value(-4));
    EXPECT_EQ(board["open"], Value(true));
    const Value& boardClass = objects.at(board["$class"]["CF$UID"].integerOr(0));
    EXPECT_EQ(boardClass["$classname"], Value("QVBoard"));
    EXPECT_EQ(boardClass["$classes"],
              Value(Value::Array{Value("QVBoard"), Value("QVDocument"), Value("NSObject")}));

    int tagClasses = 0;
    for (const auto& object : objects) tagClasses += object["$classname"] == Value("QVTag");
    EXPECT_EQ(tagClasses, 1);
    const Value& date = objects.at(board["created"]["CF$UID"].integerOr(0));
    EXPECT_EQ(date["NS.time"], Value(712345678.123456));
}

TEST(KeyedArchiver, CallerChosenTopKeyIsReadThroughRootKey) {
    KeyedArchiver archiver;
    archiver.encodeObject(makeTag("top", 3), "custom");
    auto data = archiver.encodedData();
    ASSERT_TRUE(data);
    const ArchiveClassList classes = {ArchiveClass::of<Tag>("QVTag")};

    UnarchiveOptions options;
    options.rootKey = "custom";
    auto decoded = KeyedUnarchiver::unarchivedObject(*data, classes, nullptr, options);
    ASSERT_TRUE(decoded && decoded->objectAs<Tag>());
    EXPECT_EQ(decoded->objectAs<Tag>()->name, "top");

    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(*data, classes, &error));
    EXPECT_EQ(error.code, kCoderValueNotFoundError);
}

TEST(KeyedArchiver, ArchiverRequiringSecureCodingRefusesInsecureObjects) {
    auto insecure = std::make_shared<InsecureTag>();
    insecure->name = "x";
    const Archived nested(Archived::Array{Archived(makeTag("fine", 1)), Archived(insecure)});

    Error error;
    EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(nested, true, &error));
    EXPECT_EQ(error.domain, kFoundationErrorDomain);
    EXPECT_EQ(error.code, kCoderInvalidValueError);

    auto data = KeyedArchiver::archivedDataWithRootObject(nested, false);
    ASSERT_TRUE(data);
    const ArchiveClassList classes = {ArchiveClass::of<Tag>("QVTag"),
                                      ArchiveClass::of<InsecureTag>("QVInsecureTag")};
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(*data, classes, &error));
    UnarchiveOptions lenient;
    lenient.requiresSecureCoding = false;
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(*data, classes, &error, lenient));
}

struct ClassCase {
    const char* name;
    Archived root;
    ArchiveClassList classes;
    bool requiresSecureCoding;
    bool accepted;
};

TEST(KeyedUnarchiver, MakesOnlyListedClasses) {
    const Archived values(Value(Value::Array{Value("a"), Value(Date::fromReference(1))}));
    const ClassCase cases[] = {
        {"listed custom class", makeTag("t", 1), {ArchiveClass::of<Tag>("QVTag")}, true, true},
        {"custom class off the list", makeTag("t", 1), {ArchiveClass::of<Board>("QVBoard")}, true, false},
        {"custom class off the list, insecure", makeTag("t", 1), {}, false, false},
        {"custom class listed without a factory",
         makeTag("t", 1),
         {ArchiveClass::platform("QVTag")},
         true,
         false},
        {"value classes listed",
         values,
         {ArchiveClass::platform("NSArray"), ArchiveClass::platform("NSDate")},
         true,
         true},
        {"date class missing", values, {ArchiveClass::platform("NSArray")}, true, false},
        {"value classes without secure coding", values, {}, false, true},
    };
    for (const auto& c : cases) {
        auto data = KeyedArchiver::archivedDataWithRootObject(c.root, true);
        ASSERT_TRUE(data) << c.name;
        UnarchiveOptions options;
        options.requiresSecureCoding = c.requiresSecureCoding;
        Error error;
        auto decoded = KeyedUnarchiver::unarchivedObject(*data, c.classes, &error, options);
        EXPECT_EQ(decoded.has_value(), c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_EQ(error.code, kCoderReadCorruptError) << c.name;
        }
    }
}

TEST(KeyedUnarchiver, RenamedClassReadsArchiveWrittenUnderItsFormerName) {
    auto former = std::make_shared<FormerTag>();
    former->name = "legacy";
    former->weight = 9;
    auto data = KeyedArchiver::archivedDataWithRootObject(former, true);
    ASSERT_TRUE(data);
    const ArchiveClassList classes = {ArchiveClass::of<Tag>("QVTag")};

    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(*data, classes, &error));
    EXPECT_EQ(error.code, kCoderReadCorruptError);

    UnarchiveOptions options;
    options.renamedClasses = {{"QVFormerTag", "QVTag"}};
    auto decoded = KeyedUnarchiver::unarchivedObject(*data, classes, &error, options);
    ASSERT_TRUE(decoded) << error.description;
    auto tag = decoded->objectAs<Tag>();
    ASSERT_TRUE(tag);
    EXPECT_FALSE(std::dynamic_pointer_cast<FormerTag>(tag));
    EXPECT_EQ(tag->name, "legacy");
    EXPECT_EQ(tag->weight, 9);
}

TEST(KeyedUnarchiver, SharedObjectDecodesToOneInstance) {
    auto board = makeBoard(false);
    board->tags = {board->tags[0], board->tags[0]};
    board->pinned = board->tags[0];
    auto data = KeyedArchiver::archivedDataWithRootObject(board, true);
    ASSERT_TRUE(data);
    auto decoded = KeyedUnarchiver::unarchivedObject(*data, kBoardClasses);
    ASSERT_TRUE(decoded);
    auto back = decoded->objectAs<Board>();
    ASSERT_TRUE(back && back->tags.size() == 2);
    EXPECT_EQ(back->tags[0], back->tags[1]);
    EXPECT_EQ(back->tags[0], back->pinned);
}

// Refers to the next link; archiving a loop of links terminates, reading one back is refused.
class Link : public Codable {
  public:
    std::shared_ptr<Link> next;
    std::string archiveClassName() const override { return "QVLink"; }
    void encodeWithCoder(KeyedArchiver& coder) const override { coder.encodeObject(next, "next"); }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        next = coder.decodeObjectOfClass<Link>("next");
        return true;
    }
};

TEST(KeyedUnarchiver, ReferenceCyclesAndRunawayNestingAreErrors) {
    const ArchiveClassList classes = {ArchiveClass::of<Link>("QVLink")};
    auto a = std::make_shared<Link>();
    auto b = std::make_shared<Link>();
    a->next = b;
    b->next = a;
    auto cyclic = KeyedArchiver::archivedDataWithRootObject(a, true);
    b->next.reset();
    ASSERT_TRUE(cyclic);
    Error error;
    EXPECT_FALSE(KeyedUnarchiver::unarchivedObject(*cyclic, classes, &error));
    EXPECT_EQ(error.code, kCoderReadCorruptError);

    for (int length : {200, 100000}) {
        auto head = std::make_shared<Link>();
        for (int i = 1; i < length; ++i) {
            auto link = std::make_shared<Link>();
            link->next = std::move(head);
            head = std::move(link);
        }
        auto data = KeyedArchiver::archivedDataWithRootObject(head, true, &error);
        EXPECT_EQ(data.has_value(), length == 200) << length;
        if (data) {
            EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(*data, classes, &error)) << error.description;
        }
        // Long chains are released iteratively, as the default destructor would recurse.
        while (head) head = std::move(head->next);
    }
}

}  // namespace
