#include "platform/foundation/JSON.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/foundation/Base64.h"

namespace {
// Only scalars and the parser's events pass through the library's own type: Values go to text and
// back in one pass, never through a second tree.
using Json = nlohmann::json;

constexpr int kMaxDepth = 512;

// Writes the text as the library's serializer lays it out (compact, or two spaces per level).
class Writer {
  public:
    explicit Writer(json::Style style) : pretty_(style == json::Style::Pretty) {}

    void write(const Value& value, int level) {
        switch (value.type()) {
            case Value::Type::Null:
                out_ += "null";
                return;
            case Value::Type::Bool:
                out_ += *value.asBool() ? "true" : "false";
                return;
            case Value::Type::Integer:
                integer(*value.asInteger());
                return;
            case Value::Type::Real: {
                const double d = *value.asReal();
                out_ += std::isfinite(d) ? scalar(Json(d)) : "null";  // JSON has no NaN or infinity
                return;
            }
            case Value::Type::String:
                out_ += scalar(Json(*value.asString()));
                return;
            case Value::Type::Data:
                out_ += '"' + base64Encode(*value.asData()) + '"';
                return;
            case Value::Type::Date:
                integer(value.asDate()->unixMillis());
                return;
            case Value::Type::Array:
                array(*value.asArray(), level);
                return;
            case Value::Type::Dictionary:
                dictionary(*value.asDictionary(), level);
                return;
            case Value::Type::Object:  // JSON has no form for it
                break;
        }
        out_ += "null";
    }

    std::string take() { return std::move(out_); }

  private:
    // Invalid UTF-8 in a string is replaced rather than thrown on: output never fails.
    static std::string scalar(const Json& json) {
        return json.dump(-1, ' ', false, Json::error_handler_t::replace);
    }

    void integer(int64_t n) {
        char digits[24];
        out_.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
    }

    void array(const Value::Array& items, int level) {
        if (items.empty()) {
            out_ += "[]";
            return;
        }
        out_ += '[';
        for (size_t i = 0; i < items.size(); ++i) {
            if (i > 0) out_ += ',';
            newline(level + 1);
            write(items[i], level + 1);
        }
        newline(level);
        out_ += ']';
    }

    void dictionary(const Dictionary& entries, int level) {
        if (entries.empty()) {
            out_ += "{}";
            return;
        }
        out_ += '{';
        bool first = true;
        for (const auto& [key, item] : entries) {
            if (!first) out_ += ',';
            first = false;
            newline(level + 1);
            out_ += scalar(Json(key));
            out_ += pretty_ ? ": " : ":";
            write(item, level + 1);
        }
        newline(level);
        out_ += '}';
    }

    void newline(int level) {
        if (!pretty_) return;
        out_ += '\n';
        out_.append(static_cast<size_t>(level) * 2, ' ');
    }

    const bool pretty_;
    std::string out_;
};

// Builds the Value from the parser's events, one container per level of nesting, and stops the
// parse at the first level beyond the limit.
class Builder {
  public:
    bool null() { return add(Value()); }
    bool boolean(bool b) { return add(Value(b)); }
    bool number_integer(Json::number_integer_t n) { return add(Value(n)); }
    bool number_unsigned(Json::number_unsigned_t n) {
        // Beyond int64 the number is kept as a real, as the platform's JSON reader does.
        return add(n <= static_cast<uint64_t>(INT64_MAX) ? Value(static_cast<int64_t>(n))
                                                         : Value(static_cast<double>(n)));
    }
    bool number_float(Json::number_float_t d, const Json::string_t&) { return add(Value(d)); }
    bool string(Json::string_t& s) { return add(Value(std::move(s))); }
    bool binary(Json::binary_t&) { return false; }  // JSON text has no binary values
    bool start_object(std::size_t) { return open(Value(Dictionary())); }
    bool key(Json::string_t& k) {
        keys_.push_back(std::move(k));
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Value(Value::Array())); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    bool tooDeep() const { return tooDeep_; }
    Value take() { return std::move(root_); }

  private:
    bool open(Value container) {
        if (open_.size() >= kMaxDepth) {
            tooDeep_ = true;
            return false;
        }
        open_.push_back(std::move(container));
        return true;
    }

    bool close() {
        Value done = std::move(open_.back());
        open_.pop_back();
        return add(std::move(done));
    }

    bool add(Value value) {
        if (open_.empty()) {
            root_ = std::move(value);
        } else if (auto* items = open_.back().asArray()) {
            items->push_back(std::move(value));
        } else {
            // A repeated key keeps its first place and takes the last value.
            open_.back().asDictionary()->set(std::move(keys_.back()), std::move(value));
            keys_.pop_back();
        }
        return true;
    }

    std::vector<Value> open_;
    std::vector<std::string> keys_;
    Value root_;
    bool tooDeep_ = false;
};
}  // namespace

std::string json::write(const Value& value, Style style) {
    Writer writer(style);
    writer.write(value, 0);
    return writer.take();
}

std::optional<Value> json::parse(std::string_view text, Error* error) {
    Builder builder;
    bool parsed = false;
    // The parser would stop at a NUL as at the end of the text; JSON has no place for one anyway.
    if (text.find('\0') == std::string_view::npos) {
        try {
            parsed = Json::sax_parse(text.data(), text.data() + text.size(), &builder);
        } catch (const Json::exception&) {
            parsed = false;
        }
    }
    if (!parsed) {
        setError(error, Error(kFoundationErrorDomain, 3840,
                              builder.tooDeep() ? "The JSON text is nested too deeply."
                                                : "The data is not valid JSON."));
        return std::nullopt;
    }
    return builder.take();
}
