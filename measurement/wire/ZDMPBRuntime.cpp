#include "measurement/wire/ZDMPBRuntime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

// Cells are zeroed on creation so that a 32-bit or 1-byte value reads back zero-extended.
template <class T>
void setCell(void** value, T v, const char* nullText) {
    if (!value) {
        std::puts(nullText);
        return;
    }
    constexpr size_t cellSize = std::is_same_v<T, float> ? 4 : 8;
    if (!*value) {
        *value = std::calloc(1, cellSize);
        if (!*value) return;
    }
    std::memcpy(*value, &v, sizeof(T));
}

bool copyBytes(const void* source, size_t length, ZDMPBStringSlot* slot) {
    if (!slot || length > UINT32_MAX) return false;
    auto* bytes = static_cast<uint8_t*>(std::malloc(length > 0 ? length : 1));
    if (!bytes) return false;
    if (length > 0) std::memcpy(bytes, source, length);
    slot->bytes = bytes;
    slot->length = static_cast<uint32_t>(length);
    return true;
}

}  // namespace

void ZDMPBSetBoolValue(void** value, bool b) {
    setCell<uint8_t>(value, b ? 1 : 0, "<ERROR> Unable to set bool. Destination pointer is NULL");
}

void ZDMPBSetUInt32Value(void** value, uint32_t v) {
    setCell<uint64_t>(value, v, "<ERROR> Unable to set uint32. Destination pointer is NULL");
}

void ZDMPBSetUInt64Value(void** value, uint64_t v) {
    setCell<uint64_t>(value, v, "<ERROR> Unable to set uint64. Destination pointer is NULL");
}

void ZDMPBSetFloatValue(void** value, float v) {
    setCell<float>(value, v, "<ERROR> Unable to set float. Destination pointer is NULL");
}

void ZDMPBSetDoubleValue(void** value, double v) {
    setCell<double>(value, v, "<ERROR> Unable to set double. Destination pointer is NULL");
}

void ZDMPBSetStringValue(void** value, const uint8_t* bytes, uint32_t length) {
    if (!value) {
        std::puts("<ERROR> Unable to set string. Destination array is NULL");
        return;
    }
    if (!*value) {
        *value = std::calloc(1, sizeof(ZDMPBStringSlot));
        if (!*value) return;
    }
    auto* slot = static_cast<ZDMPBStringSlot*>(*value);
    ZDMPBClearString(slot);
    auto* copy = static_cast<uint8_t*>(std::calloc(size_t{length} + 1, 1));
    if (!copy) return;
    if (length > 0) std::memcpy(copy, bytes, length);
    slot->bytes = copy;
    slot->length = length;
}

void ZDMPBClearString(ZDMPBStringSlot* slot) {
    if (!slot) {
        std::puts("<ERROR> Unable to dealloc string field. String struct is NULL");
        return;
    }
    std::free(slot->bytes);
    *slot = ZDMPBStringSlot{};
}

void ZDMPBClearBytes(ZDMPBStringSlot* slot) {
    if (!slot) {
        std::puts("<ERROR> Unable to initialize the array. Array pointer is NULL");
        return;
    }
    std::free(slot->bytes);
    *slot = ZDMPBStringSlot{};
}

void ZDMPBClearBytes(ZDMPBRepeatedSlot* slot) {
    if (!slot) {
        std::puts("<ERROR> Unable to initialize the array. Array pointer is NULL");
        return;
    }
    std::free(slot->elements);
    *slot = ZDMPBRepeatedSlot{};
}

bool ZDMPBCopyStringToBytes(const Value& object, ZDMPBStringSlot* slot) {
    if (object.isNull()) return true;
    const std::string* text = object.asString();
    return text && copyBytes(text->data(), text->size(), slot);
}

bool ZDMPBCopyDataToBytes(const Value& object, ZDMPBStringSlot* slot) {
    if (object.isNull()) return true;
    const Data* data = object.asData();
    return data && copyBytes(data->data(), data->size(), slot);
}
