#pragma once
// One named, typed value attached to an analytics event: "string", "long", "double", "boolean" or
// "dateTime". Written to JSON as {"type", "name", "value"}.
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

class DIZTypedProperty : public Codable, public DIZSerializableObject {
  public:
    DIZ_PROPERTY(std::optional<std::string>, type, Type)
    DIZ_PROPERTY(std::optional<std::string>, name, Name)

    std::optional<Dictionary> serializeToDictionary() const override;
    // Same kind and value; the name is not compared.
    virtual bool isEqual(const DIZTypedProperty& other) const;

    std::string archiveClassName() const override { return "DIZTypedProperty"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZTypedProperty", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    // The subclasses' shared shape: "Class" as the archived name above the base.
    std::vector<std::string> hierarchyOf(const char* name) const {
        return {name, "DIZTypedProperty", "NSObject"};
    }

  private:
    std::optional<std::string> type_, name_;
};

class DIZStringTypedProperty : public DIZTypedProperty {
  public:
    DIZStringTypedProperty() { setType("string"); }
    DIZ_PROPERTY(std::optional<std::string>, value, Value)

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZTypedProperty& other) const override;
    std::string archiveClassName() const override { return "DIZStringTypedProperty"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return hierarchyOf("DIZStringTypedProperty");
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<std::string> value_;
};

class DIZLongTypedProperty : public DIZTypedProperty {
  public:
    DIZLongTypedProperty() { setType("long"); }
    DIZ_PROPERTY(int64_t, value, Value)

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZTypedProperty& other) const override;
    std::string archiveClassName() const override { return "DIZLongTypedProperty"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return hierarchyOf("DIZLongTypedProperty");
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    int64_t value_ = 0;
};

class DIZDoubleTypedProperty : public DIZTypedProperty {
  public:
    DIZDoubleTypedProperty() { setType("double"); }
    DIZ_PROPERTY(double, value, Value)

    std::optional<Dictionary> serializeToDictionary() const override;
    // A NaN value equals nothing.
    bool isEqual(const DIZTypedProperty& other) const override;
    std::string archiveClassName() const override { return "DIZDoubleTypedProperty"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return hierarchyOf("DIZDoubleTypedProperty");
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    double value_ = 0;
};

class DIZBooleanTypedProperty : public DIZTypedProperty {
  public:
    DIZBooleanTypedProperty() { setType("boolean"); }
    DIZ_PROPERTY(bool, value, Value)

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZTypedProperty& other) const override;
    std::string archiveClassName() const override { return "DIZBooleanTypedProperty"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return hierarchyOf("DIZBooleanTypedProperty");
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    bool value_ = false;
};

class DIZDateTimeTypedProperty : public DIZTypedProperty {
  public:
    DIZDateTimeTypedProperty() { setType("dateTime"); }
    DIZ_PROPERTY(std::optional<Date>, value, Value)

    // The date as "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC.
    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZTypedProperty& other) const override;
    std::string archiveClassName() const override { return "DIZDateTimeTypedProperty"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return hierarchyOf("DIZDateTimeTypedProperty");
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    std::optional<Date> value_;
};
