#pragma once
// An error the application reported without crashing: its id and the exception that describes it.
#include "DudIzizoz/Internals/Model/DIZLogWithProperties.h"
#include "DudIzizozCrashes/Model/DIZExceptionModel.h"

class DIZHandledErrorLog : public DIZLogWithProperties {
  public:
    DIZHandledErrorLog() { setType("handledError"); }

    DIZ_PROPERTY(Text, errorId, ErrorId)
    DIZ_PROPERTY(std::shared_ptr<DIZExceptionModel>, exception, Exception)

    // The base keys, then "id" (the error id) and "exception", each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    // The base log, then errorId and exception; the exception's own validity is not inspected.
    bool isValid() const override;
    bool isEqual(const DIZAbstractLog& other) const override;

    std::string archiveClassName() const override { return "DIZHandledErrorLog"; }
    std::vector<std::string> archiveClassHierarchy() const override {
        return {"DIZHandledErrorLog", "DIZLogWithProperties", "DIZAbstractLog", "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text errorId_;
    std::shared_ptr<DIZExceptionModel> exception_;
};
