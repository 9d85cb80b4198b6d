#pragma once
// A log in Core Schema form ("3.0"), as Did Ozodozuda takes it: a fixed envelope, the standard
// extensions and a free data part. Its JSON keys always come in the order ver, name, time, iKey,
// flags, ext, data; none of the base log's keys is written.
#include "DudIzizoz/Internals/Model/DIZAbstractLog.h"
#include "DudIzizoz/Internals/Model/DIZCSData.h"
#include "DudIzizoz/Internals/Model/DIZCSExtensions.h"

class DIZCoreSchemaLog : public DIZAbstractLog {
  public:
    DIZ_PROPERTY(Text, ver, Ver)
    DIZ_PROPERTY(Text, name, Name)
    // Kept and compared, never written to JSON.
    DIZ_PROPERTY(double, popSample, PopSample)
    DIZ_PROPERTY(Text, iKey, IKey)
    // Written only when not zero.
    DIZ_PROPERTY(int64_t, flags, Flags)
    // Kept and compared, never written to JSON.
    DIZ_PROPERTY(Text, cV, CV)
    DIZ_PROPERTY(std::shared_ptr<DIZCSExtensions>, ext, Ext)
    DIZ_PROPERTY(std::shared_ptr<DIZCSData>, data, Data)

    std::optional<Dictionary> serializeToDictionary() const override;
    // timestamp, ver and name must be present; the device is not required.
    bool isValid() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZCoreSchemaLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZCoreSchemaLog", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text ver_, name_;
    double popSample_ = 0;
    Text iKey_;
    int64_t flags_ = 0;
    Text cV_;
    std::shared_ptr<DIZCSExtensions> ext_;
    std::shared_ptr<DIZCSData> data_;
};
