#pragma once
// Filter messages as the server sends them: hand-encoded protocol-buffer bytes decoded through the
// real message classes, and a recording measurement monitor to read what matching logged.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "measurement/foundation/ZDMValue.h"
#include "measurement/foundation/tests/MonitorFixture.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "platform/foundation/Data.h"

// Protocol-buffer wire bytes, one field at a time.
class Proto {
  public:
    Proto& varint(uint32_t tag, uint64_t value) {
        key(tag, 0);
        putVarint(value);
        return *this;
    }
    Proto& text(uint32_t tag, std::string_view text) { return bytes(tag, Data(text.begin(), text.end())); }
    Proto& message(uint32_t tag, const Proto& message) { return bytes(tag, message.data_); }
    const Data& data() const { return data_; }

  private:
    void putVarint(uint64_t value) {
        for (; value >= 0x80; value >>= 7) data_.push_back(static_cast<uint8_t>(value | 0x80));
        data_.push_back(static_cast<uint8_t>(value));
    }
    void key(uint32_t tag, uint32_t wireType) { putVarint((uint64_t{tag} << 3) | wireType); }
    Proto& bytes(uint32_t tag, const Data& bytes) {
        key(tag, 2);
        putVarint(bytes.size());
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Data data_;
};

template <class Message>
std::shared_ptr<Message> decoded(const Proto& proto) {
    auto message = Message::initWithBuffer(proto.data());
    EXPECT_TRUE(message) << "fixture bytes do not decode";
    return message;
}

// Comparison types 1 less, 2 greater, 3 equal; 4 between.
inline Proto numberFilter(uint64_t type, std::string_view value) {
    return Proto().varint(1, type).text(3, value);
}
inline Proto betweenFilter(std::string_view minimum, std::string_view maximum) {
    return Proto().varint(1, 4).text(4, minimum).text(5, maximum);
}
// Match types 1 regular expression, 2 begins, 3 ends, 4 contains, 5 exact; tag 3 when caseSensitive.
inline Proto stringFilter(uint64_t type, std::string_view expression, bool caseSensitive = false) {
    Proto proto = Proto().varint(1, type).text(2, expression);
    return caseSensitive ? proto.varint(3, 1) : proto;
}
inline Proto inListFilter(const std::vector<std::string>& entries, bool caseSensitive = false) {
    Proto proto = Proto().varint(1, 6);
    if (caseSensitive) proto.varint(3, 1);
    for (const auto& entry : entries) proto.text(4, entry);
    return proto;
}
inline Proto withString(const Proto& string) {
    return Proto().message(1, string);
}
inline Proto withNumber(const Proto& number) {
    return Proto().message(2, number);
}

inline std::shared_ptr<const ZDMValue> text(std::string value) {
    return ZDMValue::initWithString(Value(std::move(value)));
}

class FilterFixture : public SharedMonitorFixture {
  protected:
    // Codes logged since the last call.
    std::vector<int64_t> takeCodes() {
        const auto codes = loggedCodes();
        std::vector<int64_t> fresh(codes.begin() + static_cast<std::ptrdiff_t>(seen_), codes.end());
        seen_ = codes.size();
        return fresh;
    }
    // The console line of the last report with this code; empty when there was none.
    std::string lineOf(int64_t code) {
        flush(*monitor_);
        std::string found;
        for (const auto& line : logger_->lines())
            if (line.code == code) found = line.message;
        return found;
    }

  private:
    size_t seen_ = 0;
};
