#pragma once
// Runtime entities as the server sends them, encoded field by field, and a compact text form of
// programs for tables of cases:
//   (code arg ...)  a statement of that command code     "text"  a text (\" and \\ escaped)
//   $name           reading a variable, (15 "name")      true, false
//   anything else   a number as the C library reads it (12, -0, 1e21, NaN, Infinity)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measurement/wire/ZDMPBProgramMessages.h"
#include "platform/foundation/Data.h"

namespace interpreter_test {

inline void putVarint(Data& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}
inline void putKey(Data& out, uint32_t field, uint32_t wireType) {
    putVarint(out, field << 3 | wireType);
}
inline void putBytes(Data& out, uint32_t field, const Data& bytes) {
    putKey(out, field, 2);
    putVarint(out, bytes.size());
    out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void putText(Data& out, uint32_t field, std::string_view text) {
    putBytes(out, field, Data(text.begin(), text.end()));
}
inline Data kindOnly(uint32_t kind) {
    Data out;
    putKey(out, 1, 0);
    putVarint(out, kind);
    return out;
}
inline Data textEntity(std::string_view text) {
    Data out = kindOnly(1);
    putText(out, 4, text);
    return out;
}
inline Data numberEntity(double number) {
    Data out = kindOnly(2);
    putKey(out, 6, 1);
    uint8_t bytes[8];
    std::memcpy(bytes, &number, 8);
    out.insert(out.end(), bytes, bytes + 8);
    return out;
}
inline Data booleanEntity(bool value) {
    Data out = kindOnly(3);
    putKey(out, 5, 0);
    putVarint(out, value);
    return out;
}
inline Data statementEntity(std::optional<std::string_view> command, const std::vector<Data>& arguments) {
    Data out = kindOnly(4);
    for (const Data& argument : arguments) putBytes(out, 2, argument);
    if (command) putText(out, 3, *command);
    return out;
}
inline std::shared_ptr<const ZDMPBRuntimeEntity> entity(const Data& bytes) {
    auto decoded = ZDMPBRuntimeEntity::initWithBuffer(bytes);
    EXPECT_TRUE(decoded);
    return decoded;
}

// Reads the compact form; a malformed program fails the test that wrote it.
class ProgramText {
  public:
    explicit ProgramText(std::string_view text) : text_(text) {}

    // Every top-level form, encoded.
    std::vector<Data> entities() {
        std::vector<Data> forms;
        while (skipSpace()) forms.push_back(form());
        return forms;
    }

  private:
    bool skipSpace() {
        while (at_ < text_.size() && std::strchr(" \n\t", text_[at_])) ++at_;
        return at_ < text_.size();
    }
    std::string_view token() {
        const size_t start = at_;
        while (at_ < text_.size() && !std::strchr(" \n\t()", text_[at_])) ++at_;
        return text_.substr(start, at_ - start);
    }
    Data form() {
        skipSpace();
        if (at_ >= text_.size()) {
            ADD_FAILURE() << "program ends early: " << text_;
            return {};
        }
        const char c = text_[at_];
        if (c == '(') {
            ++at_;
            const std::string code(token());
            std::vector<Data> arguments;
            while (skipSpace() && text_[at_] != ')') arguments.push_back(form());
            if (at_ >= text_.size()) ADD_FAILURE() << "missing ')': " << text_;
            ++at_;
            return statementEntity(code, arguments);
        }
        if (c == '"') {
            std::string text;
            for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
                if (text_[at_] == '\\' && at_ + 1 < text_.size()) ++at_;
                text += text_[at_];
            }
            ++at_;
            return textEntity(text);
        }
        if (c == '$') {
            ++at_;
            return statementEntity("15", {textEntity(token())});
        }
        const std::string word(token());
        if (word == "true" || word == "false") return booleanEntity(word == "true");
        char* end = nullptr;
        const double number = std::strtod(word.c_str(), &end);
        if (word.empty() || *end) ADD_FAILURE() << "not a number: '" << word << "' in " << text_;
        return numberEntity(number);
    }

    std::string_view text_;
    size_t at_ = 0;
};

// A whole program: top-level instructions and activities (name, entities), each in the compact form.
struct ProgramSource {
    std::string instructions;
    std::vector<std::pair<std::string, std::string>> activities = {};
};
inline Data programBytes(const ProgramSource& source) {
    Data program;
    for (const Data& instruction : ProgramText(source.instructions).entities())
        putBytes(program, 1, instruction);
    if (source.activities.empty()) return program;
    Data activities;
    for (const auto& [name, entities] : source.activities) {
        Data activity;
        putText(activity, 1, name);
        for (const Data& rule : ProgramText(entities).entities()) putBytes(activity, 2, rule);
        putBytes(activities, 1, activity);
    }
    putBytes(program, 2, activities);
    return program;
}

}  // namespace interpreter_test
