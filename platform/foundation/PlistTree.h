#pragma once
// Owned libplist trees for the property-list and keyed-archive code: parsing that refuses input
// libplist itself cannot survive, and the value conversions libplist 2.2 gets wrong.
#include <plist/plist.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.h"

namespace plist::tree {

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

// Containers nested deeper than this are refused: libplist and our converters recurse.
inline constexpr int kMaxDepth = 512;

// The tree of a binary or XML property list; null with `reason` set when the bytes are not one,
// are nested too deeply, or share objects so often that expanding them would exhaust memory.
Node parse(const Data& bytes, std::string* reason);

// The items of an array node, in order. libplist finds an item by index by walking the array from
// its start, so visiting a parsed array by index costs time quadratic in its length; this walks it once.
std::vector<plist_t> arrayItems(plist_t array);

enum class Form { Binary, XML };
std::optional<Data> serialize(plist_t root, Form form);

// libplist stores integers as uint64 bit patterns; a property list integer is signed.
inline plist_t newInteger(int64_t value) {
    return plist_new_uint(static_cast<uint64_t>(value));
}
int64_t integerValue(plist_t node);

// Dates as seconds since 2001-01-01, at the full precision and range of the stored double.
plist_t newDate(double secondsSinceReference);
double dateValue(plist_t node);

// A string node keeps bytes up to the first NUL only.
inline bool fitsStringNode(const std::string& s) {
    return s.find('\0') == std::string::npos;
}
std::string stringValue(plist_t node);
Data dataValue(plist_t node);

}  // namespace plist::tree
