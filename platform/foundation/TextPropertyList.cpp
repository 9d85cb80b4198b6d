#include "platform/foundation/TextPropertyList.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "platform/foundation/FileLocations.h"
#include "platform/foundation/PropertyList.h"

namespace {

constexpr int64_t kPropertyListReadCorruptError = 3840;
// Nesting deeper than this is no configuration file; refusing it keeps the reader's stack bounded.
constexpr int kMaxDepth = 64;

// A recursive-descent reader over the text; each step either advances or fails.
class TextReader {
  public:
    explicit TextReader(std::string_view text) : text_(text) {}

    std::optional<Value> document(Error* error) {
        auto value = parseValue(0);
        if (value) {
            skipSpace();
            if (pos_ != text_.size()) fail("unexpected text after the value");
        }
        if (failure_) {
            setError(error, Error(kFoundationErrorDomain, kPropertyListReadCorruptError,
                                  "The data couldn't be read because it isn't in the correct format (line " +
                                      std::to_string(line()) + ": " + *failure_ + ")."));
            return std::nullopt;
        }
        return value;
    }

  private:
    std::optional<Value> fail(std::string why) {
        if (!failure_) failure_ = std::move(why);
        return std::nullopt;
    }

    size_t line() const {
        size_t lines = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); ++i) lines += text_[i] == '\n';
        return lines;
    }

    void skipSpace() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else if (text_.substr(pos_, 2) == "/*") {
                const size_t end = text_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) {
                    fail("unterminated comment");
                    pos_ = text_.size();
                    return;
                }
                pos_ = end + 2;
            } else {
                return;
            }
        }
    }

    static bool isBare(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("_$+/:.-").find(c) != std::string_view::npos;
    }

    std::optional<Value> parseValue(int depth) {
        if (depth > kMaxDepth) return fail("nested too deeply");
        skipSpace();
        if (failure_) return std::nullopt;
        if (pos_ >= text_.size()) return fail("a value is missing");
        const char c = text_[pos_];
        if (c == '{') return parseDictionary(depth);
        if (c == '(') return parseArray(depth);
        if (c == '"' || c == '\'') return parseQuoted();
        if (isBare(c)) {
            const size_t start = pos_;
            while (pos_ < text_.size() && isBare(text_[pos_])) ++pos_;
            return Value(std::string(text_.substr(start, pos_ - start)));
        }
        return fail(std::string("unexpected character '") + c + "'");
    }

    std::optional<Value> parseDictionary(int depth) {
        ++pos_;
        Dictionary dictionary;
        while (true) {
            skipSpace();
            if (failure_) return std::nullopt;
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return Value(std::move(dictionary));
            }
            auto key = parseValue(depth + 1);
            if (!key) return std::nullopt;
            if (!key->asString()) return fail("a dictionary key must be a string");
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != '=') return fail("'=' expected");
            ++pos_;
            auto value = parseValue(depth + 1);
            if (!value) return std::nullopt;
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != ';') return fail("';' expected");
            ++pos_;
            dictionary.set(*key->asString(), std::move(*value));
        }
    }

    std::optional<Value> parseArray(int depth) {
        ++pos_;
        Value::Array array;
        while (true) {
            skipSpace();
            if (failure_) return std::nullopt;
            if (pos_ < text_.size() && text_[pos_] == ')') {
                ++pos_;
                return Value(std::move(array));
            }
            auto element = parseValue(depth + 1);
            if (!element) return std::nullopt;
            array.push_back(std::move(*element));
            skipSpace();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
            } else if (pos_ >= text_.size() || text_[pos_] != ')') {
                return fail("',' or ')' expected");
            }
        }
    }

    std::optional<Value> parseQuoted() {
        const char quote = text_[pos_++];
        std::string out;
        while (pos_ < text_.size() && text_[pos_] != quote) {
            char c = text_[pos_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) break;
            c = text_[pos_++];
            switch (c) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'U': {
                    // \Uxxxx: one UTF-16 unit, as the form writes characters outside ASCII.
                    uint32_t unit = 0;
                    size_t digits = 0;
                    for (; digits < 4 && pos_ < text_.size() && std::isxdigit(uint8_t(text_[pos_])); ++digits)
                        unit = unit * 16 + uint32_t(std::isdigit(uint8_t(text_[pos_]))
                                                        ? text_[pos_++] - '0'
                                                        : (text_[pos_++] | 0x20) - 'a' + 10);
                    if (digits != 4 || (unit >= 0xD800 && unit < 0xE000)) return fail("bad \\U escape");
                    appendUtf8(out, unit);
                    break;
                }
                default:
                    out += c;  // \" \\ \' and any other character stand for themselves
            }
        }
        if (pos_ >= text_.size()) return fail("unterminated string");
        ++pos_;
        return Value(std::move(out));
    }

    static void appendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::optional<std::string> failure_;
};

bool looksLikePlist(const Data& data) {
    std::string_view head(reinterpret_cast<const char*>(data.data()), std::min<size_t>(data.size(), 64));
    return head.starts_with("bplist") || head.find("<?xml") != std::string_view::npos ||
           head.find("<plist") != std::string_view::npos;
}

}  // namespace

namespace plist {
std::optional<Value> readText(std::string_view text, Error* error) {
    return TextReader(text).document(error);
}
}  // namespace plist

std::optional<Dictionary> dictionaryWithContentsOfURL(const std::filesystem::path& url, Error* error) {
    auto data = FileLocations::readFile(url, error);
    if (!data) return std::nullopt;
    std::optional<Value> value =
        looksLikePlist(*data)
            ? plist::read(*data, error)
            : plist::readText(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()),
                              error);
    if (!value) return std::nullopt;
    if (const Dictionary* dictionary = value->asDictionary()) return *dictionary;
    setError(error, Error(kFoundationErrorDomain, kPropertyListReadCorruptError,
                          "The file doesn't hold a dictionary."));
    return std::nullopt;
}
