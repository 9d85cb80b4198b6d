#include "platform/foundation/PlistTree.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace plist::tree {
namespace {

constexpr char kBinaryMagic[] = "bplist00";
constexpr size_t kMagicSize = 8;
constexpr size_t kTrailerSize = 32;

uint64_t readBigEndian(const uint8_t* p, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
    return value;
}

void writeBigEndian(uint8_t* p, uint64_t value, size_t size) {
    for (size_t i = size; i-- > 0; value >>= 8) p[i] = static_cast<uint8_t>(value);
}

bool isBinary(const Data& bytes) {
    return bytes.size() >= kMagicSize && std::memcmp(bytes.data(), kBinaryMagic, kMagicSize) == 0;
}

// libplist 2.2 parses a binary list recursively and copies every object each time it is
// referenced, so a deep chain overflows the stack and a few shared containers referenced from
// each other expand exponentially. This walks the object graph without building it and refuses
// such lists; everything else about the bytes is left to libplist to judge.
class BinaryShape {
  public:
    explicit BinaryShape(const Data& bytes) : bytes_(bytes) {}

    bool acceptable(std::string* reason) {
        if (!readTrailer())
            return fail(reason, "The binary property list is truncated or its trailer is damaged.");
        state_.assign(objectCount_, State::Unvisited);
        weight_.assign(objectCount_, 0);
        height_.assign(objectCount_, 0);
        maxWeight_ = (uint64_t{1} << 26) + 8 * uint64_t{bytes_.size()};
        if (!visit(topObject_, 1)) return fail(reason, problem_);
        return true;
    }

  private:
    enum class State : uint8_t { Unvisited, Open, Done };

    static bool fail(std::string* reason, const char* text) {
        if (reason) *reason = text;
        return false;
    }

    size_t end() const { return bytes_.size() - kTrailerSize; }

    bool readTrailer() {
        if (bytes_.size() < kMagicSize + kTrailerSize + 1) return false;
        const uint8_t* t = bytes_.data() + end();
        offsetSize_ = t[6];
        refSize_ = t[7];
        objectCount_ = readBigEndian(t + 8, 8);
        topObject_ = readBigEndian(t + 16, 8);
        tableOffset_ = readBigEndian(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (objectCount_ == 0 || topObject_ >= objectCount_) return false;
        if (tableOffset_ < kMagicSize || tableOffset_ > end()) return false;
        return objectCount_ <= (end() - tableOffset_) / offsetSize_;
    }

    // A count that follows a marker whose low nibble is 0xF: an integer object of its own.
    bool readCount(uint8_t info, uint64_t& pos, uint64_t& count) const {
        if (info != 0xF) {
            count = info;
            return true;
        }
        if (pos >= end() || (bytes_[pos] & 0xF0) != 0x10) return false;
        const size_t size = size_t{1} << (bytes_[pos] & 0x0F);
        if (size > 8 || end() - pos - 1 < size) return false;
        count = readBigEndian(bytes_.data() + pos + 1, size);
        pos += 1 + size;
        return true;
    }

    bool visit(uint64_t object, int level) {
        if (level > kMaxDepth) return refuse("The property list is nested too deeply.");
        if (state_[object] == State::Open) return refuse("The property list contains itself.");
        if (state_[object] == State::Done) return true;
        state_[object] = State::Open;

        const uint64_t offset = objectOffset(object);
        if (offset < kMagicSize || offset >= end())
            return refuse("An object offset lies outside the property list.");
        const uint8_t marker = bytes_[offset];
        const uint8_t type = marker >> 4;
        uint64_t pos = offset + 1;
        uint64_t count = 0;
        uint64_t weight = 1;
        int height = 1;
        const bool container = type == 0xA || type == 0xB || type == 0xC || type == 0xD;
        const bool sized = type == 0x4 || type == 0x5 || type == 0x6 || type == 0x7;
        if ((container || sized) && !readCount(marker & 0x0F, pos, count))
            return refuse("An object length lies outside the property list.");
        if (sized) weight += std::min<uint64_t>(count, bytes_.size()) * (type == 0x6 ? 2 : 1);
        if (container) {
            const uint64_t refs = type == 0xD ? 2 : 1;
            if (count > (end() - pos) / refSize_ / refs)
                return refuse("An object's references lie outside the property list.");
            for (uint64_t i = 0; i < count * refs; ++i) {
                const uint64_t child = readBigEndian(bytes_.data() + pos + i * refSize_, refSize_);
                if (child >= objectCount_)
                    return refuse("An object refers to an object that does not exist.");
                if (type == 0xD && i < count && keyHoldsNul(child))
                    return refuse("A dictionary key holds a NUL character.");
                if (!visit(child, level + 1)) return false;
                weight += weight_[child];
                height = std::max(height, 1 + height_[child]);
                if (weight > maxWeight_) return refuse("The property list expands beyond any sensible size.");
            }
        }
        state_[object] = State::Done;
        weight_[object] = weight;
        height_[object] = height;
        if (height > kMaxDepth) return refuse("The property list is nested too deeply.");
        return true;
    }

    // libplist asserts, and so aborts, when it hands out a key whose text stops at a NUL.
    bool keyHoldsNul(uint64_t object) const {
        const uint64_t offset = objectOffset(object);
        if (offset < kMagicSize || offset >= end()) return false;
        const uint8_t type = bytes_[offset] >> 4;
        const size_t unit = type == 0x5 ? 1 : type == 0x6 ? 2 : 0;
        uint64_t pos = offset + 1;
        uint64_t count = 0;
        if (unit == 0 || !readCount(bytes_[offset] & 0x0F, pos, count) || count > (end() - pos) / unit)
            return false;
        for (uint64_t i = 0; i < count; ++i) {
            if (readBigEndian(bytes_.data() + pos + i * unit, unit) == 0) return true;
        }
        return false;
    }

    uint64_t objectOffset(uint64_t object) const {
        return readBigEndian(bytes_.data() + tableOffset_ + object * offsetSize_, offsetSize_);
    }

    bool refuse(const char* text) {
        problem_ = text;
        return false;
    }

    const Data& bytes_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t objectCount_ = 0;
    uint64_t topObject_ = 0;
    uint64_t tableOffset_ = 0;
    uint64_t maxWeight_ = 0;
    std::vector<State> state_;
    std::vector<uint64_t> weight_;
    std::vector<int> height_;
    const char* problem_ = "";
};

// libplist parses XML iteratively but frees trees recursively; element nesting is counted the way
// its parser reads the text (comments, CDATA, declarations and processing instructions skipped).
bool xmlDepthAcceptable(const Data& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    auto skipPast = [&](size_t from, std::string_view terminator) {
        const size_t at = text.find(terminator, from);
        return at == std::string_view::npos ? text.size() : at + terminator.size();
    };
    int depth = 0;
    for (size_t i = text.find('<'); i < text.size(); i = text.find('<', i)) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            i = skipPast(i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = skipPast(i + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            i = skipPast(i + 2, "?>");
        } else if (rest.starts_with("<!")) {
            int brackets = 0;
            for (i += 2; i < text.size() && (text[i] != '>' || brackets > 0); ++i) {
                if (text[i] == '[') ++brackets;
                if (text[i] == ']') --brackets;
            }
            ++i;
        } else if (rest.starts_with("</")) {
            --depth;
            i = skipPast(i + 2, ">");
        } else {
            const size_t close = text.find('>', i + 1);
            if (close == std::string_view::npos) break;
            if (text[close - 1] != '/') ++depth;
            if (depth > kMaxDepth + 1) return false;
            i = close + 1;
        }
    }
    return true;
}

}  // namespace

Node parse(const Data& bytes, std::string* reason) {
    auto refuse = [&](const char* text) {
        if (reason) *reason = text;
        return Node();
    };
    if (bytes.empty()) return refuse("The data is empty.");
    if (bytes.size() > std::numeric_limits<uint32_t>::max())
        return refuse("The data is too large for a property list.");
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    const auto size = static_cast<uint32_t>(bytes.size());
    plist_t root = nullptr;
    if (isBinary(bytes)) {
        if (!BinaryShape(bytes).acceptable(reason)) return Node();
        plist_from_bin(chars, size, &root);
    } else {
        if (!xmlDepthAcceptable(bytes)) return refuse("The property list is nested too deeply.");
        plist_from_xml(chars, size, &root);
    }
    if (!root) return refuse("The data is not a property list.");
    return Node(root);
}

std::vector<plist_t> arrayItems(plist_t array) {
    std::vector<plist_t> items;
    items.reserve(plist_array_get_size(array));
    plist_array_iter iter = nullptr;
    plist_array_new_iter(array, &iter);
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, iter, &item);
        if (!item) break;
        items.push_back(item);
    }
    std::free(iter);
    return items;
}

std::optional<Data> serialize(plist_t root, Form form) {
    char* out = nullptr;
    uint32_t length = 0;
    if (form == Form::Binary) {
        plist_to_bin(root, &out, &length);
    } else {
        plist_to_xml(root, &out, &length);
    }
    if (!out) return std::nullopt;
    Data bytes(out, out + length);
    if (form == Form::Binary) {
        plist_to_bin_free(out);
    } else {
        plist_to_xml_free(out);
    }
    return bytes;
}

int64_t integerValue(plist_t node) {
    uint64_t bits = 0;
    plist_get_uint_val(node, &bits);
    return static_cast<int64_t>(bits);
}

// libplist 2.2 keeps a date as a double but hands it in and out as int32 seconds plus
// microseconds: the seconds overflow beyond 2069 and the sign of a fraction before 2001 is lost.
// A one-object binary list carries the double unchanged in both directions.
plist_t newDate(double secondsSinceReference) {
    uint8_t list[kMagicSize + 9 + 1 + kTrailerSize] = {};
    std::memcpy(list, kBinaryMagic, kMagicSize);
    list[8] = 0x33;
    writeBigEndian(list + 9, std::bit_cast<uint64_t>(secondsSinceReference), 8);
    list[17] = 8;
    uint8_t* trailer = list + 18;
    trailer[6] = 1;
    trailer[7] = 1;
    writeBigEndian(trailer + 8, 1, 8);
    writeBigEndian(trailer + 24, 17, 8);
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(list), sizeof list, &node);
    return node;
}

double dateValue(plist_t node) {
    char* out = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &out, &length);
    double seconds = 0;
    if (out && length >= kMagicSize + 9 && static_cast<uint8_t>(out[8]) == 0x33) {
        seconds = std::bit_cast<double>(readBigEndian(reinterpret_cast<const uint8_t*>(out) + 9, 8));
    }
    if (out) plist_to_bin_free(out);
    return seconds;
}

std::string stringValue(plist_t node) {
    uint64_t length = 0;
    const char* chars = plist_get_string_ptr(node, &length);
    return chars ? std::string(chars, length) : std::string();
}

Data dataValue(plist_t node) {
    uint64_t length = 0;
    const char* bytes = plist_get_data_ptr(node, &length);
    return bytes ? Data(bytes, bytes + length) : Data();
}

}  // namespace plist::tree
