#pragma once
// One frame of a stack as the back end reads it: where it is (address, file, line), and what runs
// there (code, or class and method). Every field may be absent.
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

class DIZStackFrame : public Codable, public DIZSerializableObject {
  public:
    using Text = std::optional<std::string>;

    DIZ_PROPERTY(Text, address, Address)
    DIZ_PROPERTY(Text, code, Code)
    DIZ_PROPERTY(Text, className, ClassName)
    DIZ_PROPERTY(Text, methodName, MethodName)
    DIZ_PROPERTY(std::optional<int64_t>, lineNumber, LineNumber)
    DIZ_PROPERTY(Text, fileName, FileName)

    // "address", "code", "className", "methodName", "lineNumber", "fileName", each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZStackFrame& other) const;

    std::string archiveClassName() const override { return "DIZStackFrame"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text address_, code_, className_, methodName_;
    std::optional<int64_t> lineNumber_;
    Text fileName_;
};
