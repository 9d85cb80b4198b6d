#pragma once
// Small archivable objects shared by the keyed-archive tests: a tag, and a board that holds tags,
// plain values, a date, an optional tag, scalars and unkeyed fields.
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/KeyedArchiver.h"

namespace archive_fixtures {

class Tag : public Codable {
  public:
    std::string name;
    int32_t weight = 0;

    std::string archiveClassName() const override { return "QVTag"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(name, "name");
        coder.encodeInt32(weight, "weight");
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        auto decoded = coder.decodeString("name");
        if (!decoded) return false;
        name = *decoded;
        weight = coder.decodeInt32("weight");
        return true;
    }
};

class Board : public Codable {
  public:
    std::vector<std::shared_ptr<Tag>> tags;
    std::string title;
    std::vector<int64_t> scores;
    std::shared_ptr<Tag> pinned;
    Date created;
    double ratio = 0;
    bool open = false;
    int64_t serial = 0;
    std::string firstNote;
    int64_t secondNote = 0;

    std::string archiveClassName() const override { return "QVBoard"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"QVBoard", "QVDocument", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(tags, "tags");
        coder.encodeObject(title, "title");
        coder.encodeObject(Value(Value::Array(scores.begin(), scores.end())), "scores");
        coder.encodeObject(pinned, "pinned");
        coder.encodeObject(Value(created), "created");
        coder.encodeDouble(ratio, "ratio");
        coder.encodeBool(open, "open");
        coder.encodeInt64(serial, "serial");
        coder.encodeObject(firstNote);
        coder.encodeObject(Value(secondNote));
    }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        auto decodedTags = coder.decodeObject("tags").arrayOf<Tag>();
        auto decodedScores = coder.decodeObject("scores").toValue();
        auto decodedCreated = coder.decodeDate("created");
        if (!decodedTags || !decodedScores || !decodedScores->asArray() || !decodedCreated) return false;
        tags = *decodedTags;
        title = coder.decodeString("title").value_or("");
        for (const auto& score : *decodedScores->asArray()) scores.push_back(score.integerOr(-1));
        pinned = coder.decodeObjectOfClass<Tag>("pinned");
        created = *decodedCreated;
        ratio = coder.decodeDouble("ratio");
        open = coder.decodeBool("open");
        serial = coder.decodeInt64("serial");
        firstNote = coder.decodeObject().toValue().value_or(Value()).stringOr("");
        secondNote = coder.decodeObject().toValue().value_or(Value()).integerOr(0);
        return true;
    }
};

inline std::shared_ptr<Tag> makeTag(std::string name, int32_t weight) {
    auto tag = std::make_shared<Tag>();
    tag->name = std::move(name);
    tag->weight = weight;
    return tag;
}

inline std::shared_ptr<Board> makeBoard(bool withPinned) {
    auto board = std::make_shared<Board>();
    board->tags = {makeTag("red", -1), makeTag("ünïcode", 2147483647)};
    board->title = "Quarterly";
    board->scores = {-9223372036854775807 - 1, 0, 42};
    if (withPinned) board->pinned = makeTag("pinned", 7);
    board->created = Date::fromReference(712345678.123456);
    board->ratio = -0.125;
    board->open = true;
    board->serial = -4;
    board->firstNote = "first";
    board->secondNote = 2;
    return board;
}

inline const ArchiveClassList kBoardClasses = {
    ArchiveClass::of<Board>("QVBoard"), ArchiveClass::of<Tag>("QVTag"), ArchiveClass::platform("NSArray"),
    ArchiveClass::platform("NSDate")};

}  // namespace archive_fixtures
