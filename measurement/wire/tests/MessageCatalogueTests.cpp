// The configuration, audience-definition, program and experiment messages: protoc's bytes for a
// fully populated instance of each, rebuilt field by field through the accessors, decoded, encoded
// and copied; and the behaviour their users rely on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>

#include "measurement/wire/AudienceCodecs.h"
#include "measurement/wire/ConfigCodecs.h"
#include "measurement/wire/ExperimentCodecs.h"
#include "measurement/wire/ProgramCodecs.h"
#include "measurement/wire/ZDMPBAudienceMessages.h"
#include "measurement/wire/ZDMPBConfigMessages.h"
#include "measurement/wire/ZDMPBExperimentMessages.h"
#include "measurement/wire/ZDMPBProgramMessages.h"
#include "measurement/wire/tests/WireTestSupport.h"

namespace {

// Every message class, by message name: what GetMessage and GetArray need for sub-messages.
const ZDMPBClass* classNamed(const std::string& name) {
    static const std::map<std::string, const ZDMPBClass*> classes = {
#define ZDMPB_CLASS_ENTRY(M) {#M, &ZDMPB##M::messageClass()}
        ZDMPB_CLASS_ENTRY(MeasurementConfig),
        ZDMPB_CLASS_ENTRY(Setting),
        ZDMPB_CLASS_ENTRY(EventConfig),
        ZDMPB_CLASS_ENTRY(DataControl),
        ZDMPB_CLASS_ENTRY(Region),
        ZDMPB_CLASS_ENTRY(Audience),
        ZDMPB_CLASS_ENTRY(EventFilter),
        ZDMPB_CLASS_ENTRY(PropertyFilter),
        ZDMPB_CLASS_ENTRY(Filter),
        ZDMPB_CLASS_ENTRY(StringFilter),
        ZDMPB_CLASS_ENTRY(NumberFilter),
        ZDMPB_CLASS_ENTRY(Program),
        ZDMPB_CLASS_ENTRY(OgtActivities),
        ZDMPB_CLASS_ENTRY(OgtActivity),
        ZDMPB_CLASS_ENTRY(RuntimeEntity),
        ZDMPB_CLASS_ENTRY(ExperimentRequest),
        ZDMPB_CLASS_ENTRY(AppProperty),
        ZDMPB_CLASS_ENTRY(ClientProperty),
        ZDMPB_CLASS_ENTRY(CustomProperty),
        ZDMPB_CLASS_ENTRY(ExperimentResponse),
        ZDMPB_CLASS_ENTRY(SdkResponse),
        ZDMPB_CLASS_ENTRY(Snapshot),
        ZDMPB_CLASS_ENTRY(Experiment),
        ZDMPB_CLASS_ENTRY(Flag),
        ZDMPB_CLASS_ENTRY(SkAdNetworkConversionValueRequest),
        ZDMPB_CLASS_ENTRY(SkAdNetworkConversionValueResponse),
#undef ZDMPB_CLASS_ENTRY
    };
    auto found = classes.find(name);
    return found == classes.end() ? nullptr : found->second;
}

const ZDMPBClass* elementClass(const NANOMessageBase& message, int32_t index) {
    const ZDMPBMessageDescriptor* element = message.messageDescriptor().fields[index].message;
    return element ? classNamed(element->name) : nullptr;
}

// A new message of the same class, every present field copied through the index accessors alone,
// sub-messages rebuilt the same way. `populated`: every field of `source` must be present and
// every repeated field hold elements.
std::shared_ptr<NANOMessageBase> rebuilt(const NANOMessageBase& source, bool populated = false) {
    const ZDMPBClass* cls = classNamed(source.messageID());
    EXPECT_TRUE(cls) << source.messageID();
    if (!cls) return nullptr;
    auto copy = cls->initWithMessageInfo(nullptr);
    const ZDMPBMessageDescriptor& type = source.messageDescriptor();
    for (int32_t i = 0; i < type.fieldCount; ++i) {
        const int32_t word = type.typeWords[i];
        if (word & ZDMPBFieldTypeRepeated) {
            auto elements = ZDMPBGetArray(&source, i, elementClass(source, i));
            EXPECT_TRUE(elements && (!populated || !elements->empty())) << type.name << " index " << i;
            if (!elements) continue;
            for (auto& element : *elements) {
                if (element.isObject()) {
                    auto sub = std::dynamic_pointer_cast<const NANOMessageBase>(element.asObject());
                    element = Value(std::shared_ptr<const Object>(rebuilt(*sub)));
                }
            }
            ZDMPBSetArray(copy.get(), i, *elements);
            continue;
        }
        EXPECT_TRUE(!populated || ZDMPBHasField(&source, i))
            << type.name << " index " << i << " is not populated";
        if (!ZDMPBHasField(&source, i)) continue;
        if (word & ZDMPBFieldTypeBool) {
            ZDMPBSetBool(copy.get(), i, ZDMPBGetBool(&source, i));
        } else if (word & (ZDMPBFieldTypeEnum | ZDMPBFieldTypeInt32 | ZDMPBFieldTypeUInt32)) {
            ZDMPBSetInt32(copy.get(), i, ZDMPBGetInt32(&source, i));
        } else if (word & (ZDMPBFieldTypeInt64 | ZDMPBFieldTypeUInt64)) {
            ZDMPBSetInt64(copy.get(), i, ZDMPBGetInt64(&source, i));
        } else if (word & ZDMPBFieldTypeFloat) {
            ZDMPBSetFloat(copy.get(), i, ZDMPBGetFloat(&source, i));
        } else if (word & ZDMPBFieldTypeDouble) {
            ZDMPBSetDouble(copy.get(), i, ZDMPBGetDouble(&source, i));
        } else if (word & ZDMPBFieldTypeString) {
            ZDMPBSetString(copy.get(), i, ZDMPBGetString(&source, i));
        } else if (word & ZDMPBFieldTypeMessage) {
            auto sub = ZDMPBGetMessage(&source, i, elementClass(source, i));
            EXPECT_TRUE(sub) << type.name << " index " << i;
            if (sub) ZDMPBSetMessage(copy.get(), i, rebuilt(*sub).get());
        }
    }
    return copy;
}

Data encoded(const std::shared_ptr<NANOMessageBase>& message) {
    auto bytes = message ? message->protoBuffer() : std::nullopt;
    return bytes.value_or(Data{0xde, 0xad});
}

template <class T>
std::shared_ptr<T> decoded(const char* fixture) {
    auto message = T::initWithBuffer(golden(fixture));
    EXPECT_TRUE(message) << fixture;
    return message;
}

template <class T>
std::shared_ptr<T> empty() {
    return T::initWithMessageInfo(nullptr);
}

}  // namespace

TEST(MessageCatalogue, EveryMessageBuiltThroughTheAccessorsEncodesAsProtocAndSurvivesDecodingAndCopying) {
    const char* const names[] = {
        "MeasurementConfig",
        "Setting",
        "EventConfig",
        "DataControl",
        "Region",
        "Audience",
        "EventFilter",
        "PropertyFilter",
        "Filter",
        "StringFilter",
        "NumberFilter",
        "Program",
        "OgtActivities",
        "OgtActivity",
        "RuntimeEntity",
        "ExperimentRequest",
        "AppProperty",
        "ClientProperty",
        "CustomProperty",
        "ExperimentResponse",
        "SdkResponse",
        "Snapshot",
        "Experiment",
        "Flag",
        "SkAdNetworkConversionValueRequest",
        "SkAdNetworkConversionValueResponse",
    };
    ASSERT_EQ(std::size(names), 26u);
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const Data expected = golden(std::string(name) + ".full");
        const ZDMPBClass* cls = classNamed(name);
        ASSERT_TRUE(cls);
        auto message = cls->initWithMessageInfo(nullptr);
        ASSERT_TRUE(message);
        // Decoded by the codec into a record, which the class takes as a deep copy.
        std::shared_ptr<NANOMessageBase> fromBytes;
        {
            auto* info = static_cast<ZDMPBMessageInfo*>(std::calloc(1, sizeof(ZDMPBMessageInfo)));
            ASSERT_TRUE(message->initMessageInfoFn()(info));
            ASSERT_TRUE(zdmpb::decode(message->messageDescriptor(), expected.data(), expected.size(), info));
            fromBytes = cls->initWithMessageInfo(info);
            zdmpb::deallocMessageInfo(message->messageDescriptor(), info);
        }
        ASSERT_TRUE(fromBytes);
        EXPECT_EQ(hex(encoded(fromBytes)), hex(expected)) << "decoded and encoded again";
        EXPECT_EQ(hex(encoded(cls->initWithMessageInfo(fromBytes->messageInfo()))), hex(expected))
            << "copied";
        EXPECT_EQ(hex(encoded(rebuilt(*fromBytes, true))), hex(expected)) << "built through the accessors";
    }
}

// A type word that disagrees with the generated table would move values of the wrong width
// between a record and nanopb's struct.
TEST(MessageCatalogue, TypeWordsAgreeWithTheGeneratedTables) {
    for (const ZDMPBMessageDescriptor* type : {&kZDMPBMeasurementConfigDescriptor,
                                               &kZDMPBSettingDescriptor,
                                               &kZDMPBEventConfigDescriptor,
                                               &kZDMPBDataControlDescriptor,
                                               &kZDMPBRegionDescriptor,
                                               &kZDMPBAudienceDescriptor,
                                               &kZDMPBEventFilterDescriptor,
                                               &kZDMPBPropertyFilterDescriptor,
                                               &kZDMPBFilterDescriptor,
                                               &kZDMPBStringFilterDescriptor,
                                               &kZDMPBNumberFilterDescriptor,
                                               &kZDMPBProgramDescriptor,
                                               &kZDMPBOgtActivitiesDescriptor,
                                               &kZDMPBOgtActivityDescriptor,
                                               &kZDMPBRuntimeEntityDescriptor,
                                               &kZDMPBExperimentRequestDescriptor,
                                               &kZDMPBAppPropertyDescriptor,
                                               &kZDMPBClientPropertyDescriptor,
                                               &kZDMPBCustomPropertyDescriptor,
                                               &kZDMPBExperimentResponseDescriptor,
                                               &kZDMPBSdkResponseDescriptor,
                                               &kZDMPBSnapshotDescriptor,
                                               &kZDMPBExperimentDescriptor,
                                               &kZDMPBFlagDescriptor,
                                               &kZDMPBSkAdNetworkConversionValueRequestDescriptor,
                                               &kZDMPBSkAdNetworkConversionValueResponseDescriptor}) {
        SCOPED_TRACE(type->name);
        Data generated(type->structSize);
        for (int32_t i = 0; i < type->fieldCount; ++i) {
            SCOPED_TRACE(i);
            const int32_t word = type->typeWords[i];
            pb_field_iter_t field;
            ASSERT_TRUE(pb_field_iter_begin(&field, type->nanopb, generated.data()));
            ASSERT_TRUE(pb_field_iter_find(&field, type->fields[i].tag));
            EXPECT_EQ((word & ZDMPBFieldTypeRepeated) != 0, PB_HTYPE(field.type) == PB_HTYPE_REPEATED);
            const auto kind = PB_LTYPE(field.type);
            const bool callback = PB_ATYPE(field.type) == PB_ATYPE_CALLBACK;
            switch (word & ~(ZDMPBFieldTypeOptional | ZDMPBFieldTypeRepeated)) {
                case ZDMPBFieldTypeBool:
                    EXPECT_EQ(kind, PB_LTYPE_BOOL);
                    break;
                case ZDMPBFieldTypeEnum:
                case ZDMPBFieldTypeUInt32:
                    EXPECT_EQ(kind, PB_LTYPE_UVARINT);
                    EXPECT_TRUE(callback || field.data_size == 4);
                    break;
                case ZDMPBFieldTypeInt32:
                    EXPECT_EQ(kind, PB_LTYPE_VARINT);
                    EXPECT_TRUE(callback || field.data_size == 4);
                    break;
                case ZDMPBFieldTypeInt64:
                    EXPECT_EQ(kind, PB_LTYPE_VARINT);
                    EXPECT_TRUE(callback || field.data_size == 8);
                    break;
                case ZDMPBFieldTypeUInt64:
                    EXPECT_EQ(kind, PB_LTYPE_UVARINT);
                    EXPECT_TRUE(callback || field.data_size == 8);
                    break;
                case ZDMPBFieldTypeDouble:
                    EXPECT_EQ(kind, PB_LTYPE_FIXED64);
                    break;
                case ZDMPBFieldTypeFloat:
                    EXPECT_EQ(kind, PB_LTYPE_FIXED32);
                    break;
                case ZDMPBFieldTypeString:
                    EXPECT_EQ(kind, PB_LTYPE_STRING);
                    break;
                case ZDMPBFieldTypeMessage:
                    EXPECT_TRUE(kind == PB_LTYPE_SUBMESSAGE || kind == PB_LTYPE_SUBMSG_W_CB);
                    EXPECT_TRUE(type->fields[i].message);
                    break;
                default:
                    ADD_FAILURE() << "unknown type word " << word;
            }
        }
    }
}

TEST(MessageCatalogue, ConfigurationDropsTags14And15AndKeepsTheRest) {
    auto config = decoded<ZDMPBMeasurementConfig>("MeasurementConfig.unindexed");
    ASSERT_TRUE(config);
    EXPECT_EQ(ZDMPBGetInt64(config.get(), 0), 5);
    EXPECT_EQ(hex(config->protoBuffer()), hex(golden("MeasurementConfig.indexed")));
}

TEST(MessageCatalogue, ConfigurationWithoutSettingsHasAnEmptyPresentList) {
    Data bytes;
    putBytes(bytes, 2, Data{'a'});
    auto config = ZDMPBMeasurementConfig::initWithBuffer(bytes);
    ASSERT_TRUE(config);
    EXPECT_TRUE(ZDMPBHasField(config.get(), 3));
    EXPECT_EQ(ZDMPBGetArray(config.get(), 3, &ZDMPBSetting::messageClass()), Value::Array{});
}

TEST(MessageCatalogue, AbsentFlag8ReadsNoAndIsNotWritten) {
    auto config = decoded<ZDMPBMeasurementConfig>("MeasurementConfig.indexed");
    ASSERT_TRUE(config);
    EXPECT_FALSE(ZDMPBHasField(config.get(), 7));
    EXPECT_FALSE(ZDMPBGetBool(config.get(), 7));
    EXPECT_EQ(hex(config->protoBuffer()), hex(golden("MeasurementConfig.indexed")));

    ZDMPBSetBool(config.get(), 7, false);
    auto reread = ZDMPBMeasurementConfig::initWithBuffer(*config->protoBuffer());
    ASSERT_TRUE(reread);
    EXPECT_TRUE(ZDMPBHasField(reread.get(), 7));
    EXPECT_FALSE(ZDMPBGetBool(reread.get(), 7));
}

TEST(MessageCatalogue, ClearedAudiencesAreNotWritten) {
    for (const char* fixture : {"MeasurementConfig.full", "MeasurementConfig.indexed"}) {
        SCOPED_TRACE(fixture);
        auto config = decoded<ZDMPBMeasurementConfig>(fixture);
        ASSERT_TRUE(config);
        auto audiences = ZDMPBGetArray(config.get(), 5, &ZDMPBAudience::messageClass());
        ASSERT_TRUE(audiences && !audiences->empty());
        ZDMPBClearField(config.get(), 5);
        auto reread = ZDMPBMeasurementConfig::initWithBuffer(*config->protoBuffer());
        ASSERT_TRUE(reread);
        EXPECT_EQ(ZDMPBGetArray(reread.get(), 5, &ZDMPBAudience::messageClass()), Value::Array{});
        // Everything else survives.
        EXPECT_EQ(ZDMPBGetString(reread.get(), 1), ZDMPBGetString(config.get(), 1));
        EXPECT_EQ(ZDMPBGetArray(reread.get(), 3, &ZDMPBSetting::messageClass())->size(),
                  ZDMPBGetArray(config.get(), 3, &ZDMPBSetting::messageClass())->size());
    }
}

TEST(MessageCatalogue, SamplingRateZeroIsPresentAndAbsentIsNot) {
    Data zero;
    putKey(zero, 4, 0);
    putVarint(zero, 0);
    auto withRate = ZDMPBEventConfig::initWithBuffer(zero);
    ASSERT_TRUE(withRate);
    EXPECT_TRUE(ZDMPBHasField(withRate.get(), 3));
    EXPECT_EQ(ZDMPBGetInt32(withRate.get(), 3), 0);
    EXPECT_EQ(hex(withRate->protoBuffer()), hex(zero));

    Data named;
    putBytes(named, 1, Data{'_', 'e'});
    auto withoutRate = ZDMPBEventConfig::initWithBuffer(named);
    ASSERT_TRUE(withoutRate);
    EXPECT_FALSE(ZDMPBHasField(withoutRate.get(), 3));
}

TEST(MessageCatalogue, ClientPropertyWithoutCustomPropertiesWritesNoTag5) {
    auto client = empty<ZDMPBClientProperty>();
    ZDMPBSetString(client.get(), 0, "measurement");
    ZDMPBSetArray(client.get(), 4, Value::Array{});
    Data expected;
    putBytes(expected, 1, Data{'m', 'e', 'a', 's', 'u', 'r', 'e', 'm', 'e', 'n', 't'});
    EXPECT_EQ(hex(client->protoBuffer()), hex(expected));
}

TEST(MessageCatalogue, FlagValueTakesTheFirstPresentFieldInItsOrder) {
    struct Case {
        const char* what;
        std::function<void(ZDMPBFlag*)> fill;
        Value expected;
    };
    const Case cases[] = {
        {"integer and bool", [](ZDMPBFlag* f) { ZDMPBSetInt64(f, 1, 7), ZDMPBSetBool(f, 4, true); },
         Value(7)},
        {"integer and double (tags 2 and 4)",
         [](ZDMPBFlag* f) { ZDMPBSetInt64(f, 1, 7), ZDMPBSetDouble(f, 3, 2.5); }, Value(7)},
        {"all four",
         [](ZDMPBFlag* f) {
             ZDMPBSetInt64(f, 1, -1), ZDMPBSetString(f, 2, "s"), ZDMPBSetDouble(f, 3, 2.5),
                 ZDMPBSetBool(f, 4, true);
         },
         Value(-1)},
        {"string and double", [](ZDMPBFlag* f) { ZDMPBSetString(f, 2, "s"), ZDMPBSetDouble(f, 3, 2.5); },
         Value(2.5)},
        {"string and bool", [](ZDMPBFlag* f) { ZDMPBSetString(f, 2, "on"), ZDMPBSetBool(f, 4, false); },
         Value("on")},
        {"bool", [](ZDMPBFlag* f) { ZDMPBSetBool(f, 4, false); }, Value(false)},
        {"name only", [](ZDMPBFlag* f) { ZDMPBSetString(f, 0, "n"); }, Value()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto flag = empty<ZDMPBFlag>();
        c.fill(flag.get());
        // Through the wire form, as flags reach the experiment code.
        auto decodedFlag = ZDMPBFlag::initWithBuffer(*flag->protoBuffer());
        ASSERT_TRUE(decodedFlag);
        const Value value = ZDMPBFlagValue(decodedFlag.get());
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(value.type(), c.expected.type());
    }
    EXPECT_TRUE(ZDMPBFlagValue(nullptr).isNull());
}

namespace {

// A RuntimeEntity statement nested `levels` deep (the outermost counts), each inner one in its
// parent's tag 2; the innermost is a string node.
Data nestedEntities(size_t levels) {
    Data inner;
    putKey(inner, 1, 0);
    putVarint(inner, 1);
    putBytes(inner, 4, Data{'x'});
    for (size_t level = 1; level < levels; ++level) {
        Data outer;
        putKey(outer, 1, 0);
        putVarint(outer, 4);
        putBytes(outer, 2, inner);
        putBytes(outer, 3, Data{'2'});
        inner.swap(outer);
    }
    return inner;
}

}  // namespace

TEST(MessageCatalogue, RuntimeEntitiesNestAtMostAHundredLevels) {
    const Data hundred = nestedEntities(100);
    auto accepted = ZDMPBRuntimeEntity::initWithBuffer(hundred);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(hex(accepted->protoBuffer()), hex(hundred));

    // Inside a program inside a configuration, the same tree is as deep.
    Data program;
    putBytes(program, 1, hundred);
    Data config;
    putBytes(config, 9, program);
    auto inConfig = ZDMPBMeasurementConfig::initWithBuffer(config);
    ASSERT_TRUE(inConfig);
    EXPECT_EQ(hex(inConfig->protoBuffer()), hex(config));

    std::shared_ptr<ZDMPBRuntimeEntity> refused;
    const std::string printed =
        stdoutOf([&] { refused = ZDMPBRuntimeEntity::initWithBuffer(nestedEntities(101)); });
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(printed.rfind("<ERROR> RuntimeEntity decoder failed: nesting too deep\n", 0), 0u)
        << printed.substr(0, 200);
}

TEST(MessageCatalogue, OversizedStringInAProgramMakesTheWholeConfigurationUndecodable) {
    for (size_t length : {kZDMPBMaxStringLength, kZDMPBMaxStringLength + 1}) {
        SCOPED_TRACE(length);
        Data entity;
        putBytes(entity, 4, Data(length, 's'));
        Data activity;
        putBytes(activity, 2, entity);
        Data activities;
        putBytes(activities, 1, activity);
        Data program;
        putBytes(program, 2, activities);
        Data config;
        putBytes(config, 2, Data{'a'});
        putBytes(config, 9, program);
        std::shared_ptr<ZDMPBMeasurementConfig> decodedConfig;
        stdoutOf([&] { decodedConfig = ZDMPBMeasurementConfig::initWithBuffer(config); });
        EXPECT_EQ(decodedConfig != nullptr, length == kZDMPBMaxStringLength);
    }
}
