#pragma once
// An exception or error as the back end reads it: its type (exception name or error domain), its
// message, the stack it was met on as text, and that stack parsed into frames.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizozCrashes/Model/DIZCrashesModelFields.h"
#include "DudIzizozCrashes/Model/DIZStackFrame.h"
#include "platform/foundation/Error.h"

class DIZExceptionModel : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    using Text = std::optional<std::string>;
    using Symbols = std::vector<std::string>;

    DIZ_PROPERTY(Text, type, Type)
    DIZ_PROPERTY(Text, message, Message)
    DIZ_PROPERTY(Text, stackTrace, StackTrace)
    DIZ_PROPERTY(DIZList<DIZStackFrame>, frames, Frames)

    // The initialisers fill a model made by the default constructor, whose fields are all absent.
    // An error: its domain (when it has one), its user info as text (when it holds an entry), and
    // the calling thread's stack.
    void initWithError(const Error& error);
    // Any exception object, by what it answers: `name()` gives the type and `reason()` the message;
    // `callStackSymbols()` the stack, else only the frames come from the calling thread's stack.
    template <class Exception>
    void initWithException(const Exception& exception);
    // The given stack, or the calling thread's when there is none.
    void initWithType(Text type, Text message, std::optional<Symbols> stackTrace);

    // Frames from the platform's symbol lines: each line is cut at " -[]+?.," with empty pieces
    // dropped; a line of at least six pieces gives fileName, address, className and methodName from
    // pieces 1 to 4, a shorter one (a plain function's) gives nothing.
    static std::vector<std::shared_ptr<DIZStackFrame>> loadStackTrace(const Symbols& symbols);

    // "type", "message", "stackTrace", "frames", each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    // type, then at least one frame.
    bool isValid() const override;
    // The other is this class or a subclass, with the same four fields.
    virtual bool isEqual(const DIZExceptionModel& other) const;

    std::string archiveClassName() const override { return "DIZExceptionModel"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    void fillFromException(Text name, Text reason, std::optional<Symbols> callStackSymbols);
    void setStack(const Symbols& symbols);

    Text type_, message_, stackTrace_;
    DIZList<DIZStackFrame> frames_;
};

template <class Exception>
void DIZExceptionModel::initWithException(const Exception& exception) {
    Text name, reason;
    std::optional<Symbols> symbols;
    if constexpr (requires { Text(exception.name()); }) name = exception.name();
    if constexpr (requires { Text(exception.reason()); }) reason = exception.reason();
    if constexpr (requires { Symbols(exception.callStackSymbols()); }) symbols = exception.callStackSymbols();
    fillFromException(std::move(name), std::move(reason), std::move(symbols));
}
