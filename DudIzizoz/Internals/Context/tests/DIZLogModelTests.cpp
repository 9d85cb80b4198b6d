#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "DudIzizoz/Internals/Context/DIZArchiverUtil.h"
#include "DudIzizoz/Internals/Context/DIZDeviceHistoryInfo.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"
#include "DudIzizoz/Internals/Model/DIZStartServiceLog.h"
#include "DudIzizoz/Internals/Model/DIZTypedProperty.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "DudIzizoz/Internals/Util/tests/DIZLogCapture.h"
#include "platform/foundation/JSON.h"

namespace {

const Date kWhen = Date::fromUnixMillis(1700000000123);

std::shared_ptr<DIZDevice> validDevice() {
    auto device = std::make_shared<DIZDevice>();
    device->setSdkName("dudizizoz.macos");
    device->setSdkVersion("5.0.3");
    device->setModel("Model 1");
    device->setOemName("Apple");
    device->setOsName("macOS");
    device->setOsVersion("13.2.1");
    device->setOsBuild("22D68");
    device->setLocale("en_CA");
    device->setTimeZoneOffset(-210);
    device->setAppVersion("1.0.0");
    device->setAppBuild("1");
    device->setAppNamespace("com.quorvane.agent");
    return device;
}

template <class Log>
std::shared_ptr<Log> validLog() {
    auto log = std::make_shared<Log>();
    if (!log->type()) log->setType("event");
    log->setTimestamp(kWhen);
    log->setDevice(validDevice());
    return log;
}

Value json(const DIZSerializableObject& object) {
    return Value(object.serializeToDictionary().value_or(Dictionary{}));
}

TEST(DIZLogModelTest, ValidityNamesTheFirstMissingField) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    auto log = validLog<DIZAbstractLog>();
    EXPECT_TRUE(log->isValid());

    log->setDevice(nullptr);
    EXPECT_FALSE(log->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZAbstractLog: \"device\" is not valid.");

    auto device = validDevice();
    device->setModel(std::nullopt);
    device->setOsBuild(std::nullopt);
    device->setScreenSize(std::nullopt);
    EXPECT_TRUE(device->isValid()) << "model, build and screen size are optional";
    device->setAppBuild(std::nullopt);
    log->setDevice(device);
    EXPECT_FALSE(log->isValid());
    auto texts = capture.texts();
    EXPECT_EQ(texts[texts.size() - 2], "DIZDevice: \"appBuild\" is not valid.");
    EXPECT_EQ(texts.back(), "DIZAbstractLog: \"device\" is not valid.");

    auto unstamped = std::make_shared<DIZStartServiceLog>();
    EXPECT_FALSE(unstamped->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZStartServiceLog: \"timestamp\" is not valid.");
}

TEST(DIZLogModelTest, JsonLeavesOutAbsentValuesAndKeepsSlashes) {
    auto log = validLog<DIZStartServiceLog>();
    log->setSid("sessions/1");
    Value written = json(*log);
    EXPECT_EQ(written["type"], Value("startService"));
    EXPECT_EQ(written["timestamp"], Value("2023-11-14T22:13:20.123Z"));
    EXPECT_EQ(written["device"]["timeZoneOffset"], Value(-210));
    for (const char* absent : {"services", "isDidOzodozudaEnabled", "userId", "distributionGroupId"})
        EXPECT_FALSE(written.asDictionary()->contains(absent)) << absent;
    EXPECT_NE(log->serializeLogWithPrettyPrinting(false).find("\"sid\":\"sessions/1\""), std::string::npos);

    log->setServices(std::vector<std::string>{"Analytics", "Crashes"});
    written = json(*log);
    EXPECT_EQ(written["services"], Value(Value::Array{"Analytics", "Crashes"}));
    EXPECT_EQ(written["isDidOzodozudaEnabled"], Value(false));

    auto withProperties = validLog<DIZLogWithProperties>();
    withProperties->setProperties(DIZProperties{});
    EXPECT_FALSE(json(*withProperties).asDictionary()->contains("properties"));
    withProperties->setProperties(DIZProperties{{"k", "v"}});
    EXPECT_EQ(json(*withProperties)["properties"], Value(Dictionary{{"k", Value("v")}}));
}

TEST(DIZLogModelTest, EqualityComparesTheListedFields) {
    auto a = validLog<DIZLogWithProperties>(), b = validLog<DIZLogWithProperties>();
    EXPECT_TRUE(a->isEqual(*b)) << "both property maps absent";
    b->setProperties(DIZProperties{});
    EXPECT_FALSE(a->isEqual(*b)) << "an absent map and an empty one differ";
    b->setProperties(std::nullopt);
    b->addTransmissionTargetToken("t-1");
    EXPECT_TRUE(a->isEqual(*b)) << "target tokens are not compared";
    b->setTag(std::make_shared<int>(1));
    EXPECT_FALSE(a->isEqual(*b));
    EXPECT_FALSE(a->isEqual(*validLog<DIZAbstractLog>())) << "a base log is no log with properties";

    auto s1 = validLog<DIZStartServiceLog>(), s2 = validLog<DIZStartServiceLog>();
    s2->setIsDidOzodozudaEnabled(true);
    EXPECT_TRUE(s1->isEqual(*s2));

    auto wrapped = validDevice();
    wrapped->setLiveUpdatePackageHash("hash");
    EXPECT_FALSE(validDevice()->isEqual(*wrapped));
}

TEST(DIZLogModelTest, ConversionMakesOneCoreSchemaLogPerToken) {
    auto log = validLog<DIZAbstractLog>();
    EXPECT_EQ(log->toCoreSchemaLogsWithFlags(1), std::nullopt) << "no tokens, no logs";

    log->setUserId("alice");
    log->addTransmissionTargetToken("key1-secret");
    log->addTransmissionTargetToken("key2-secret");
    auto converted = log->toCoreSchemaLogsWithFlags(2);
    ASSERT_TRUE(converted);
    ASSERT_EQ(converted->size(), 2u);
    std::set<std::string> iKeys;
    for (const auto& cs : *converted) {
        iKeys.insert(cs->iKey().value_or(""));
        EXPECT_EQ(cs->transmissionTargetTokens()->size(), 1u);
        EXPECT_EQ(cs->ver(), "3.0");
        EXPECT_EQ(cs->flags(), 2);
        EXPECT_EQ(cs->timestamp(), kWhen);
        Value ext = json(*cs->ext());
        EXPECT_EQ(ext["user"], Value(Dictionary{{"localId", Value("c:alice")}, {"locale", Value("en-CA")}}));
        EXPECT_EQ(ext["protocol"],
                  Value(Dictionary{{"devMake", Value("Apple")}, {"devModel", Value("Model 1")}}));
        EXPECT_EQ(ext["os"], Value(Dictionary{{"name", Value("macOS")},
                                              {"ver", Value("Version 13.2.1 (Build 22D68)")}}));
        EXPECT_EQ(ext["app"]["id"], Value("I:com.quorvane.agent"));
        EXPECT_EQ(ext["app"]["ver"], Value("1.0.0"));
        EXPECT_EQ(ext["sdk"], Value(Dictionary{{"libVer", Value("dudizizoz.macos-5.0.3")}}));
        EXPECT_EQ(ext["loc"], Value(Dictionary{{"tz", Value("-03:30")}}));
        EXPECT_FALSE(ext.asDictionary()->contains("device")) << "an empty device extension writes nothing";
        EXPECT_FALSE(ext.asDictionary()->contains("net"));
        EXPECT_TRUE(cs->ext()->deviceExt());
    }
    EXPECT_EQ(iKeys, (std::set<std::string>{"o:key1", "o:key2"}));

    log->setUserId("x:bob");
    EXPECT_EQ(log->toCoreSchemaLogForTargetToken("k-1", 0)->ext()->userExt()->localId(), "x:bob");
}

TEST(DIZLogModelTest, ConversionHelpers) {
    using L = DIZAbstractLog;
    EXPECT_EQ(L::combineOsVersion("13.2.1", "22D68"), "Version 13.2.1 (Build 22D68)");
    EXPECT_EQ(L::combineOsVersion("13.2.1", ""), "Version 13.2.1");
    EXPECT_EQ(L::combineOsVersion("", std::nullopt), std::nullopt);
    EXPECT_EQ(L::combineSDKLibVer("dudizizoz.macos", "5.0.3"), "dudizizoz.macos-5.0.3");
    EXPECT_EQ(L::combineSDKLibVer("dudizizoz.macos", ""), std::nullopt);
    struct Case {
        int64_t minutes;
        const char* text;
    } cases[] = {{120, "+02:00"}, {-210, "-03:30"}, {0, "+00:00"}, {345, "+05:45"}, {-30, "-00:30"}};
    for (const auto& c : cases) EXPECT_EQ(L::convertTimeZoneOffsetToISO8601(c.minutes), c.text);
    EXPECT_EQ(L::convertTimeZoneOffsetToISO8601(std::numeric_limits<int64_t>::min()).front(), '-');
}

std::shared_ptr<DIZCoreSchemaLog> fullCoreSchemaLog() {
    auto log = validLog<DIZAbstractLog>();
    log->setUserId("alice");
    auto cs = log->toCoreSchemaLogForTargetToken("key-secret", 0);
    cs->setName("switched");
    auto metadata = std::make_shared<DIZMetadataExtension>();
    metadata->setMetadata(Dictionary{{"f", Value(Dictionary{{"count", Value(4)}})}});
    cs->ext()->setMetadataExt(metadata);
    cs->ext()->protocolExt()->setTicketKeys(std::vector<std::string>{"ticket"});
    cs->ext()->deviceExt()->setLocalId("device-id");
    cs->ext()->sdkExt()->setEpoch("epoch");
    cs->ext()->sdkExt()->setSeq(7);
    cs->ext()->sdkExt()->setInstallId(UUID::fromString("0c1d7a28-5c3e-4a5b-9b7c-2d6e1f3a4b5c"));
    auto data = std::make_shared<DIZCSData>();
    data->setProperties(Dictionary{
        {"baseData", Value(Dictionary{{"a", Value(1)}})}, {"extra", Value("x")}, {"baseType", Value("T")}});
    cs->setData(data);
    cs->setPopSample(100);
    cs->setCV("cv");
    return cs;
}

TEST(DIZCoreSchemaLogTest, JsonKeysComeInTheirFixedOrder) {
    auto cs = fullCoreSchemaLog();
    Value written = json(*cs);
    EXPECT_EQ(written.asDictionary()->keys(),
              (std::vector<std::string>{"ver", "name", "time", "iKey", "ext", "data"}));
    EXPECT_EQ(written["time"], Value("2023-11-14T22:13:20.123Z"));
    EXPECT_EQ(written["data"].asDictionary()->keys(),
              (std::vector<std::string>{"baseType", "baseData", "extra"}));
    EXPECT_EQ(written["ext"]["sdk"]["installId"], Value("0C1D7A28-5C3E-4A5B-9B7C-2D6E1F3A4B5C"));
    EXPECT_EQ(written["ext"]["sdk"]["seq"], Value(7));
    EXPECT_EQ(written["ext"]["metadata"], Value(Dictionary{{"f", Value(Dictionary{{"count", Value(4)}})}}));
    std::string text = cs->serializeLogWithPrettyPrinting(false);
    for (const char* never : {"popSample", "cV", "\"type\"", "\"timestamp\"", "\"device\":{\"sdkName"})
        EXPECT_EQ(text.find(never), std::string::npos) << never;

    cs->setFlags(2);
    cs->ext()->sdkExt()->setSeq(0);
    cs->ext()->setOsExt(std::make_shared<DIZOSExtension>());
    written = json(*cs);
    EXPECT_EQ(written.asDictionary()->keys(),
              (std::vector<std::string>{"ver", "name", "time", "iKey", "flags", "ext", "data"}));
    EXPECT_EQ(written["flags"], Value(2));
    EXPECT_FALSE(written["ext"]["sdk"].asDictionary()->contains("seq"));
    EXPECT_FALSE(written["ext"].asDictionary()->contains("os")) << "an OS extension without fields";
    EXPECT_EQ(json(DIZCSExtensions()), Value(Dictionary{}));
}

TEST(DIZCoreSchemaLogTest, ValidityNeedsTimeVersionAndName) {
    DIZLogCapture capture;
    auto cs = fullCoreSchemaLog();
    cs->setDevice(nullptr);
    EXPECT_TRUE(cs->isValid()) << "no device needed";
    cs->setName(std::nullopt);
    EXPECT_FALSE(cs->isValid());
    EXPECT_EQ(capture.texts().back(), "DIZCoreSchemaLog: \"name\" is not valid.");
}

TEST(DIZTypedPropertyTest, JsonValuesByKind) {
    DIZBooleanTypedProperty flag;
    flag.setName("on");
    flag.setValue(true);
    EXPECT_EQ(json::write(json(flag)), R"({"type":"boolean","name":"on","value":true})");

    DIZDateTimeTypedProperty when;
    when.setName("when");
    EXPECT_FALSE(json(when).asDictionary()->contains("value"));
    when.setValue(kWhen);
    EXPECT_EQ(json(when)["value"], Value("2023-11-14T22:13:20.123Z"));

    DIZLongTypedProperty count;
    count.setName("count");
    count.setValue(std::numeric_limits<int64_t>::min());
    EXPECT_EQ(json::write(json(count)), R"({"type":"long","name":"count","value":-9223372036854775808})");
}

TEST(DIZTypedPropertyTest, EqualityIsByKindAndValueNotName) {
    DIZStringTypedProperty a, b;
    a.setName("one");
    b.setName("two");
    a.setValue("same");
    b.setValue("same");
    EXPECT_TRUE(a.isEqual(b));
    DIZLongTypedProperty longOne;
    DIZDoubleTypedProperty doubleOne;
    EXPECT_FALSE(longOne.isEqual(doubleOne));
    EXPECT_FALSE(doubleOne.isEqual(longOne));
    doubleOne.setValue(std::nan(""));
    EXPECT_FALSE(doubleOne.isEqual(doubleOne));
}

// A typed property archived without its value, as a damaged or older archive might hold it.
struct DIZValuelessProperty : DIZTypedProperty {
    std::string className;
    std::string archiveClassName() const override { return className; }
    std::vector<std::string> archiveClassHierarchy() const override { return hierarchyOf(className.c_str()); }
};

TEST(DIZTypedPropertyTest, MissingArchivedValueReadsAsTheKindsEmptyValue) {
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    auto decode = [](const char* className) {
        auto valueless = std::make_shared<DIZValuelessProperty>();
        valueless->className = className;
        auto back = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(valueless));
        return back ? back->objectAs<DIZTypedProperty>() : nullptr;
    };
    auto text = std::dynamic_pointer_cast<DIZStringTypedProperty>(decode("DIZStringTypedProperty"));
    auto number = std::dynamic_pointer_cast<DIZLongTypedProperty>(decode("DIZLongTypedProperty"));
    auto real = std::dynamic_pointer_cast<DIZDoubleTypedProperty>(decode("DIZDoubleTypedProperty"));
    auto flag = std::dynamic_pointer_cast<DIZBooleanTypedProperty>(decode("DIZBooleanTypedProperty"));
    auto date = std::dynamic_pointer_cast<DIZDateTimeTypedProperty>(decode("DIZDateTimeTypedProperty"));
    ASSERT_TRUE(text && number && real && flag && date);
    EXPECT_EQ(text->value(), std::nullopt);
    EXPECT_EQ(number->value(), 0);
    EXPECT_EQ(real->value(), 0.0);
    EXPECT_FALSE(flag->value());
    EXPECT_EQ(date->value(), std::nullopt);
}

TEST(DIZModelArchiveTest, EveryModelRoundTripsThroughTheKeyedArchiver) {
    DIZArchiverUtil::addAllowedDudIzizozModuleClasses();
    DIZLogCapture capture;
    auto roundTrip = [](const CodablePtr& object) -> CodablePtr {
        auto back = DIZUtility::unarchiveKeyedData(DIZUtility::archiveKeyedData(object));
        return back ? back->object() : nullptr;
    };
    auto sameAs = []<class T>(const std::shared_ptr<T>& original, const CodablePtr& back) {
        auto typed = std::dynamic_pointer_cast<T>(back);
        return typed && typeid(*typed) == typeid(*original) && original->isEqual(*typed) &&
               typed->isEqual(*original);
    };

    auto withProperties = validLog<DIZLogWithProperties>();
    withProperties->setProperties(DIZProperties{{"k", "v/1"}});
    withProperties->setSid("sid");
    withProperties->setUserId("alice");
    withProperties->setDistributionGroupId("group");
    auto startService = validLog<DIZStartServiceLog>();
    startService->setServices(std::vector<std::string>{"Analytics"});
    startService->setIsDidOzodozudaEnabled(true);
    auto wrapped = validDevice();
    wrapped->setWrapperSdkName("wrapper");
    wrapped->setOsApiLevel(33);
    std::vector<std::shared_ptr<DIZAbstractLog>> logs{validLog<DIZAbstractLog>(), withProperties,
                                                      startService, fullCoreSchemaLog()};
    for (const auto& log : logs) EXPECT_TRUE(sameAs(log, roundTrip(log))) << log->archiveClassName();
    auto startBack = std::dynamic_pointer_cast<DIZStartServiceLog>(roundTrip(startService));
    ASSERT_TRUE(startBack);
    EXPECT_TRUE(startBack->isDidOzodozudaEnabled());

    EXPECT_TRUE(sameAs(wrapped, roundTrip(wrapped)));
    auto wrapper = std::make_shared<DIZWrapperSdk>("1", "2", "3", "4", "5", "6");
    EXPECT_TRUE(sameAs(wrapper, roundTrip(wrapper)));

    auto entry = std::make_shared<DIZDeviceHistoryInfo>(kWhen, wrapped);
    auto entryBack = std::dynamic_pointer_cast<DIZDeviceHistoryInfo>(roundTrip(entry));
    ASSERT_TRUE(entryBack);
    EXPECT_EQ(entryBack->timestamp(), kWhen);
    EXPECT_TRUE(entryBack->device()->isEqual(*wrapped));

    auto text = std::make_shared<DIZStringTypedProperty>();
    text->setValue("text");
    auto number = std::make_shared<DIZLongTypedProperty>();
    number->setValue(std::numeric_limits<int64_t>::max());
    auto real = std::make_shared<DIZDoubleTypedProperty>();
    real->setValue(2.5);
    auto flag = std::make_shared<DIZBooleanTypedProperty>();
    flag->setValue(true);
    auto date = std::make_shared<DIZDateTimeTypedProperty>();
    date->setValue(kWhen);
    std::vector<std::shared_ptr<DIZTypedProperty>> properties{text, number, real, flag, date};
    for (const auto& property : properties) {
        property->setName("name");
        auto back = std::dynamic_pointer_cast<DIZTypedProperty>(roundTrip(property));
        ASSERT_TRUE(sameAs(property, back)) << property->archiveClassName();
        EXPECT_EQ(back->name(), "name");
    }
    EXPECT_TRUE(capture.texts().empty()) << capture.texts().front();
}

TEST(DIZLogContainerTest, ValidityAndTheUploadBody) {
    DIZLogCapture capture;
    DIZLogger::setCurrentLogLevel(DIZLogLevel::Verbose);
    auto first = validLog<DIZAbstractLog>(), second = validLog<DIZAbstractLog>(),
         third = validLog<DIZAbstractLog>();
    third->setType(std::nullopt);
    DIZLogContainer container("batch-1", {first, second, third});
    EXPECT_FALSE(container.isValid());
    EXPECT_EQ(capture.texts().back(), "DIZAbstractLog: \"type\" is not valid.");

    EXPECT_FALSE(DIZLogContainer("batch-2", {}).isValid());
    EXPECT_EQ(capture.texts().back(), "DIZLogContainer: there are no logs in container.");

    second->setSid("a/b");
    DIZLogContainer valid("batch-3", {first, second});
    EXPECT_TRUE(valid.isValid());
    auto body = valid.serializeLog();
    ASSERT_TRUE(body);
    auto parsed = json::parse(*body);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->asDictionary()->keys(), std::vector<std::string>{"logs"});
    ASSERT_EQ(parsed->operator[]("logs").asArray()->size(), 2u);
    EXPECT_EQ((*parsed)["logs"].asArray()->at(1)["sid"], Value("a/b"));
    EXPECT_NE(body->find("\"sid\":\"a/b\""), std::string::npos);
    auto pretty = valid.serializeLogWithPrettyPrinting(true);
    EXPECT_EQ(json::parse(*pretty), parsed) << "pretty printing changes only whitespace";
}

}  // namespace
