#pragma once
// The exception of a wrapper SDK's own runtime: an exception model that names the wrapper and may
// carry the exceptions that caused it.
#include "DudIzizozCrashes/Model/DIZExceptionModel.h"

class DIZWrapperExceptionModel : public DIZExceptionModel {
  public:
    DIZ_PROPERTY(DIZList<DIZWrapperExceptionModel>, innerExceptions, InnerExceptions)
    DIZ_PROPERTY(Text, wrapperSdkName, WrapperSdkName)

    // The exception model's keys, then "wrapperSdkName" and "innerExceptions", each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The other is a wrapper exception model, equal as an exception model, with the same two fields.
    bool isEqual(const DIZExceptionModel& other) const override;

    std::string archiveClassName() const override { return "DIZWrapperExceptionModel"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZWrapperExceptionModel", "DIZExceptionModel", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    DIZList<DIZWrapperExceptionModel> innerExceptions_;
    Text wrapperSdkName_;
};
