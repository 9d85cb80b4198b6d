#pragma once
// What every measurement message object offers the runtime: its record, its name and its type's
// record functions. Message objects travel inside Value as objects.
#include <memory>
#include <optional>

#include "measurement/wire/ZDMPBRuntime.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"

struct ZDMPBMessageDescriptor;

class NANOMessageBase : public Object {
  public:
    // The encoded bytes; nullopt when encoding fails.
    virtual std::optional<Data> protoBuffer() const = 0;
    virtual const char* messageID() const = 0;
    // The object's own record; changing it changes the object.
    virtual ZDMPBMessageInfo* messageInfo() const = 0;
    virtual ZDMPBInitMessageInfoFn initMessageInfoFn() const = 0;
    virtual ZDMPBDeallocMessageFieldFn deallocMessageFieldFn() const = 0;
    virtual ZDMPBCopyMessageInfoFn copyMessageInfoFn() const = 0;
    // The message type's codec table, through which the accessors check indexes and the type of
    // sub-messages stored into fields.
    virtual const ZDMPBMessageDescriptor& messageDescriptor() const = 0;
};

// A message class as the accessors take it, to turn a sub-record into an object of that class.
// A class without `initWithMessageInfo` converts nothing.
struct ZDMPBClass {
    const char* name;
    std::shared_ptr<NANOMessageBase> (*initWithMessageInfo)(const ZDMPBMessageInfo* info);
};
