#include "measurement/wire/ZDMPBAccessors.h"

#include <cstdlib>
#include <cstring>

#include "measurement/wire/ZDMPBCodec.h"
#include "platform/foundation/SystemLog.h"
#include "platform/foundation/Unicode.h"
#include "platform/foundation/ValueClassName.h"

namespace {

bool isRepeatedWord(int32_t w) {
    return (w & ZDMPBFieldTypeRepeated) != 0;
}

// One field of a message, reached after the checks every accessor makes.
struct Field {
    ZDMPBMessageInfo* info;
    int32_t index;
    int32_t word;
    void*& value() const { return info->fieldValues[index]; }
};

ZDMPBMessageInfo* recordOf(const NANOMessageBase* message) {
    ZDMPBMessageInfo* info = message ? message->messageInfo() : nullptr;
    return info && info->fieldValues ? info : nullptr;
}

bool inRange(const NANOMessageBase* message, const ZDMPBMessageInfo* info, int32_t index) {
    if (index >= 0 && index < message->messageDescriptor().fieldCount) return true;
    NSLog("<Nano/Failure> Field ID is out of range. Message: %s, field ID: %d", info->name, index);
    return false;
}

// `kind` names the accessor's kind in the failure text; nullptr for the repeated accessors.
std::optional<Field> field(const NANOMessageBase* message, int32_t index, const char* op,
                           bool (*accepts)(int32_t), const char* kind) {
    ZDMPBMessageInfo* info = recordOf(message);
    if (!info) {
        NSLog("ProtocolBuffer message hasn't been initialized. %s can't be performed", op);
        return std::nullopt;
    }
    if (!inRange(message, info, index)) return std::nullopt;
    const int32_t word = info->fieldTypeWords[index];
    if (!accepts(word)) {
        if (kind)
            NSLog("<Nano/Failure> Field type isn't a scalar %s. Message: %s, field ID: %d", kind, info->name,
                  index);
        else
            NSLog("<Nano/Failure> Field type isn't REPEATED. Message: %s, field ID: %d", info->name, index);
        return std::nullopt;
    }
    return Field{info, index, word};
}

bool anyWord(int32_t) {
    return true;
}
bool boolWord(int32_t w) {
    return (w & 0x28) == ZDMPBFieldTypeBool;
}
bool int32Word(int32_t w) {
    return (w & 0x1C0) != 0 && !isRepeatedWord(w);
}
bool int64Word(int32_t w) {
    return (w & 0x600) != 0 && !isRepeatedWord(w);
}
bool floatWord(int32_t w) {
    return (w & 0x808) == ZDMPBFieldTypeFloat;
}
bool doubleWord(int32_t w) {
    return (w & 0x1008) == ZDMPBFieldTypeDouble;
}
bool stringWord(int32_t w) {
    return (w & 0x2008) == ZDMPBFieldTypeString;
}
// Reading a slot as bytes is safe for string fields too; any other kind would read a cell as one.
bool bytesWord(int32_t w) {
    return (w & (ZDMPBFieldTypeBytes | ZDMPBFieldTypeString)) != 0 && !isRepeatedWord(w);
}
bool messageWord(int32_t w) {
    return (w & 0x4008) == ZDMPBFieldTypeMessage;
}
bool repeatedWord(int32_t w) {
    return isRepeatedWord(w);
}

void clear(const NANOMessageBase* message, const Field& f) {
    message->deallocMessageFieldFn()(f.info, f.index);
}

const char* expectedMessageName(const NANOMessageBase* message, int32_t index) {
    const ZDMPBMessageDescriptor* element = message->messageDescriptor().fields[index].message;
    return element ? element->name : "";
}

}  // namespace

std::string ZDMPBClassNameOf(const Value& value) {
    return classNameOf(value);
}

namespace {

std::optional<Value> elementValue(int32_t word, const void* element, const ZDMPBClass* elementClass) {
    const uint64_t bits =
        (word & (ZDMPBFieldTypeString | ZDMPBFieldTypeBytes | ZDMPBFieldTypeMessage | ZDMPBFieldTypeFloat)) !=
                0
            ? 0
            : ZDMPBCellBits(element);
    if (word & ZDMPBFieldTypeBool) return Value((bits & 0xFF) != 0);
    if (word & ZDMPBFieldTypeInt32) return Value(static_cast<int32_t>(static_cast<uint32_t>(bits)));
    if (word & ZDMPBFieldTypeUInt32) return Value(static_cast<uint32_t>(bits));
    if (word & ZDMPBFieldTypeInt64) return Value(static_cast<long long>(bits));
    if (word & ZDMPBFieldTypeUInt64) return Value(static_cast<unsigned long long>(bits));
    if (word & ZDMPBFieldTypeFloat) return Value(static_cast<double>(ZDMPBCellFloat(element)));
    if (word & ZDMPBFieldTypeDouble) return Value(ZDMPBCellDouble(element));
    if (word & ZDMPBFieldTypeEnum) return Value(static_cast<int32_t>(static_cast<uint32_t>(bits)));
    if (word & (ZDMPBFieldTypeString | ZDMPBFieldTypeBytes)) {
        const auto* slot = static_cast<const ZDMPBStringSlot*>(element);
        const char* start = slot->bytes ? reinterpret_cast<const char*>(slot->bytes) : "";
        const size_t length = slot->bytes ? slot->length : 0;
        if (word & ZDMPBFieldTypeBytes) return Value(Data(start, start + length));
        std::string_view text(start, length);
        if (!isValidUtf8(text)) return std::nullopt;
        return Value(std::string(text));
    }
    if (word & ZDMPBFieldTypeMessage) {
        if (!elementClass || !elementClass->initWithMessageInfo) {
            NSLog("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s",
                  elementClass ? elementClass->name : "(null)");
            return std::nullopt;
        }
        auto object = elementClass->initWithMessageInfo(static_cast<const ZDMPBMessageInfo*>(element));
        if (!object) return std::nullopt;
        return Value(std::shared_ptr<const Object>(std::move(object)));
    }
    NSLog("<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d", word);
    return std::nullopt;
}

// Converts one element into a fresh `*element`; false (after logging) when it has the wrong kind.
// A partly built message copy stays in `*element` for the caller to free.
bool storeElement(const NANOMessageBase* message, const Field& f, const Value& item, void** element) {
    const int32_t w = f.word;
    auto refuse = [&](const char* expectation) {
        NSLog("<ERROR> Invalid object type. %s. Type: %s", expectation, ZDMPBClassNameOf(item).c_str());
        return false;
    };
    if (w & ZDMPBFieldTypeBool) {
        if (!item.isNumber()) return refuse("Boolean fields expect NSNumber");
        ZDMPBSetBoolValue(element, *item.asBool());
    } else if (w & (ZDMPBFieldTypeInt32 | ZDMPBFieldTypeUInt32)) {
        if (!item.isNumber()) return refuse("Int32 fields expect NSNumber");
        ZDMPBSetUInt32Value(element, static_cast<uint32_t>(*item.asInteger()));
    } else if (w & (ZDMPBFieldTypeInt64 | ZDMPBFieldTypeUInt64)) {
        if (!item.isNumber()) return refuse("Int64 fields expect NSNumber");
        ZDMPBSetUInt64Value(element, static_cast<uint64_t>(*item.asInteger()));
    } else if (w & ZDMPBFieldTypeFloat) {
        if (!item.isNumber()) return refuse("Float fields expect NSNumber");
        ZDMPBSetFloatValue(element, static_cast<float>(*item.asReal()));
    } else if (w & ZDMPBFieldTypeDouble) {
        if (!item.isNumber()) return refuse("Double fields expect NSNumber");
        ZDMPBSetDoubleValue(element, *item.asReal());
    } else if (w & ZDMPBFieldTypeEnum) {
        if (!item.isNumber()) return refuse("Enum fields expect NSNumber");
        ZDMPBSetUInt32Value(element, static_cast<uint32_t>(*item.asInteger()));
    } else if (w & (ZDMPBFieldTypeString | ZDMPBFieldTypeBytes)) {
        const bool text = (w & ZDMPBFieldTypeString) != 0;
        if (text ? !item.isString() : !item.isData())
            return refuse(text ? "String fields expect NSString" : "Bytes fields expect NSData");
        auto* slot = static_cast<ZDMPBStringSlot*>(std::calloc(1, sizeof(ZDMPBStringSlot)));
        if (!slot) return false;
        if (!(text ? ZDMPBCopyStringToBytes(item, slot) : ZDMPBCopyDataToBytes(item, slot))) {
            std::free(slot);
            return false;
        }
        *element = slot;
    } else if (w & ZDMPBFieldTypeMessage) {
        auto object = item.asObject();
        const auto* sub = dynamic_cast<const NANOMessageBase*>(object.get());
        if (!sub || !sub->messageInfo()) return refuse("Message fields expect NANOMessageBase");
        // A record of another type would be read through the wrong field table when encoded.
        const char* expected = expectedMessageName(message, f.index);
        if (std::strcmp(sub->messageID(), expected) != 0) {
            NSLog("<ERROR> Invalid object type. Message fields expect ZDMPB%s. Type: %s", expected,
                  ZDMPBClassNameOf(item).c_str());
            return false;
        }
        return sub->copyMessageInfoFn()(reinterpret_cast<ZDMPBMessageInfo**>(element), sub->messageInfo());
    } else {
        NSLog("<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d", w);
        return false;
    }
    return *element != nullptr;
}

}  // namespace

bool ZDMPBHasField(const NANOMessageBase* message, int32_t index) {
    ZDMPBMessageInfo* info = recordOf(message);
    if (!info) {
        NSLog(
            "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message "
            "name %s",
            message ? message->messageID() : "(null)");
        return false;
    }
    if (!inRange(message, info, index)) return false;
    return isRepeatedWord(info->fieldTypeWords[index]) || info->fieldValues[index] != nullptr;
}

void ZDMPBClearField(NANOMessageBase* message, int32_t index) {
    if (auto f = field(message, index, "ClearField", anyWord, nullptr)) clear(message, *f);
}

bool ZDMPBGetBool(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetBool", boolWord, "BOOL");
    return f && f->value() && (ZDMPBCellBits(f->value()) & 0xFF) == 1;
}

void ZDMPBSetBool(NANOMessageBase* message, int32_t index, bool value) {
    if (auto f = field(message, index, "SetBool", boolWord, "BOOL"))
        ZDMPBSetUInt32Value(&f->value(), value ? 1 : 0);
}

int32_t ZDMPBGetInt32(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetInt32", int32Word, "INT32");
    return f && f->value() ? static_cast<int32_t>(static_cast<uint32_t>(ZDMPBCellBits(f->value()))) : 0;
}

void ZDMPBSetInt32(NANOMessageBase* message, int32_t index, int32_t value) {
    if (auto f = field(message, index, "SetInt32", int32Word, "INT32"))
        ZDMPBSetUInt32Value(&f->value(), static_cast<uint32_t>(value));
}

int64_t ZDMPBGetInt64(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetInt64", int64Word, "INT64");
    return f && f->value() ? static_cast<int64_t>(ZDMPBCellBits(f->value())) : 0;
}

void ZDMPBSetInt64(NANOMessageBase* message, int32_t index, int64_t value) {
    if (auto f = field(message, index, "SetInt64", int64Word, "INT64"))
        ZDMPBSetUInt64Value(&f->value(), static_cast<uint64_t>(value));
}

float ZDMPBGetFloat(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetFloat", floatWord, "FLOAT");
    return f && f->value() ? ZDMPBCellFloat(f->value()) : 0.0f;
}

void ZDMPBSetFloat(NANOMessageBase* message, int32_t index, float value) {
    if (auto f = field(message, index, "SetFloat", floatWord, "FLOAT"))
        ZDMPBSetFloatValue(&f->value(), value);
}

double ZDMPBGetDouble(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetDouble", doubleWord, "DOUBLE");
    return f && f->value() ? ZDMPBCellDouble(f->value()) : 0.0;
}

void ZDMPBSetDouble(NANOMessageBase* message, int32_t index, double value) {
    if (auto f = field(message, index, "SetDouble", doubleWord, "DOUBLE"))
        ZDMPBSetDoubleValue(&f->value(), value);
}

std::optional<std::string> ZDMPBGetString(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetString", stringWord, "STRING");
    if (!f || !f->value()) return std::nullopt;
    const auto* slot = static_cast<const ZDMPBStringSlot*>(f->value());
    if (!slot->bytes) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(slot->bytes), slot->length);
    if (!isValidUtf8(text)) return std::nullopt;
    return std::string(text);
}

void ZDMPBSetString(NANOMessageBase* message, int32_t index, std::optional<std::string_view> value) {
    auto f = field(message, index, "SetString", stringWord, "STRING");
    if (!f) return;
    if (!value) {
        clear(message, *f);
        return;
    }
    if (!f->value()) f->value() = std::calloc(1, sizeof(ZDMPBStringSlot));
    auto* slot = static_cast<ZDMPBStringSlot*>(f->value());
    if (!slot) return;
    ZDMPBClearString(slot);
    ZDMPBCopyStringToBytes(Value(std::string(*value)), slot);
}

std::optional<Data> ZDMPBGetBytes(const NANOMessageBase* message, int32_t index) {
    auto f = field(message, index, "GetBytes", bytesWord, "BYTES");
    if (!f || !f->value()) return std::nullopt;
    const auto* slot = static_cast<const ZDMPBStringSlot*>(f->value());
    if (!slot->bytes) return std::nullopt;
    return Data(slot->bytes, slot->bytes + slot->length);
}

void ZDMPBSetBytes(NANOMessageBase* message, int32_t index, const std::optional<Data>& value) {
    auto f = field(message, index, "SetBytes", bytesWord, "BYTES");
    if (!f) return;
    if (!value) {
        clear(message, *f);
        return;
    }
    if (!f->value()) f->value() = std::calloc(1, sizeof(ZDMPBStringSlot));
    auto* slot = static_cast<ZDMPBStringSlot*>(f->value());
    if (!slot) return;
    ZDMPBClearBytes(slot);
    ZDMPBCopyDataToBytes(Value(*value), slot);
}

std::shared_ptr<NANOMessageBase> ZDMPBGetMessage(const NANOMessageBase* message, int32_t index,
                                                 const ZDMPBClass* cls) {
    auto f = field(message, index, "GetMessage", messageWord, "MESSAGE");
    if (!f || !f->value() || !cls || !cls->initWithMessageInfo) return nullptr;
    return cls->initWithMessageInfo(static_cast<const ZDMPBMessageInfo*>(f->value()));
}

void ZDMPBSetMessage(NANOMessageBase* message, int32_t index, const NANOMessageBase* sub) {
    auto f = field(message, index, "SetMessage", messageWord, "MESSAGE");
    if (!f) return;
    // A record of another type would be read through the wrong field table when encoded.
    const char* expected = expectedMessageName(message, index);
    if (!sub || !sub->messageInfo() || std::strcmp(sub->messageID(), expected) != 0) {
        NSLog("<Nano/Failure> Sub-message isn't a %s. Message: %s, field ID: %d", expected, f->info->name,
              index);
        return;
    }
    clear(message, *f);
    auto* copy = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
    if (!copy) return;
    sub->initMessageInfoFn()(copy);
    if (!sub->copyMessageInfoFn()(&copy, sub->messageInfo())) {
        zdmpb::deallocMessageInfo(sub->messageDescriptor(), copy);
        return;
    }
    f->value() = copy;
}

std::optional<Value::Array> ZDMPBGetArray(const NANOMessageBase* message, int32_t index,
                                          const ZDMPBClass* elementClass) {
    auto f = field(message, index, "GetArray", repeatedWord, nullptr);
    if (!f) return std::nullopt;
    const auto* slot = static_cast<const ZDMPBRepeatedSlot*>(f->value());
    if (!slot) {
        NSLog("<ERROR> Repeated field should have been allocated");
        return std::nullopt;
    }
    Value::Array items;
    if (!slot->elements) return items;
    items.reserve(slot->count);
    for (uint32_t k = 0; k < slot->count; ++k) {
        if (!slot->elements[k]) {
            NSLog("<ERROR> Unable to convert NULL data to an ObjC object");
            continue;
        }
        if (auto item = elementValue(f->word, slot->elements[k], elementClass))
            items.push_back(std::move(*item));
    }
    return items;
}

void ZDMPBSetArray(NANOMessageBase* message, int32_t index, const std::optional<Value::Array>& elements) {
    auto f = field(message, index, "SetArray", repeatedWord, nullptr);
    if (!f) return;
    auto* slot = static_cast<ZDMPBRepeatedSlot*>(f->value());
    if (!slot) {
        NSLog("<ERROR> Repeated field should have been allocated");
        return;
    }
    clear(message, *f);
    if (!elements || elements->empty()) return;
    if (elements->size() > UINT32_MAX) return;
    slot->elements = static_cast<void**>(std::calloc(elements->size(), sizeof(void*)));
    if (!slot->elements) {
        NSLog("<ERROR> Unable to set NULL data to an ObjC object");
        return;
    }
    for (size_t k = 0; k < elements->size(); ++k) {
        // Counted as it goes, so that emptying after a refusal frees exactly what was built.
        slot->count = static_cast<uint32_t>(k + 1);
        if (!storeElement(message, *f, (*elements)[k], &slot->elements[k])) {
            if (!slot->elements[k]) slot->count = static_cast<uint32_t>(k);
            clear(message, *f);
            return;
        }
    }
}
