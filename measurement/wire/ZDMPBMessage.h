#pragma once
// The one implementation behind every message class: an object owning one record of its message
// type. Made empty, from bytes or as a deep copy of a record; never adopts the caller's memory.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "measurement/wire/NANOMessageBase.h"
#include "platform/foundation/Data.h"

class ZDMPBMessage : public NANOMessageBase {
  public:
    ~ZDMPBMessage() override;
    ZDMPBMessage(const ZDMPBMessage&) = delete;
    ZDMPBMessage& operator=(const ZDMPBMessage&) = delete;

    std::optional<Data> protoBuffer() const override;
    const char* messageID() const override;
    ZDMPBMessageInfo* messageInfo() const override { return messageInfo_; }
    ZDMPBInitMessageInfoFn initMessageInfoFn() const override;
    ZDMPBDeallocMessageFieldFn deallocMessageFieldFn() const override;
    ZDMPBCopyMessageInfoFn copyMessageInfoFn() const override;
    const ZDMPBMessageDescriptor& messageDescriptor() const override { return type_; }
    std::string className() const override;

  protected:
    explicit ZDMPBMessage(const ZDMPBMessageDescriptor& type) : type_(type) {}
    // A deep copy of `info` (which must be of this type), or an empty message for nullptr.
    bool copyFrom(const ZDMPBMessageInfo* info);
    // The decoded bytes; nullptr with length 0 is an empty message.
    bool decodeFrom(const uint8_t* bytes, size_t length);

  private:
    const ZDMPBMessageDescriptor& type_;
    ZDMPBMessageInfo* messageInfo_ = nullptr;
};

// A message class of type D: `Self` gets the class-level initialisers.
template <class Self, const ZDMPBMessageDescriptor& D>
class ZDMPBMessageOf : public ZDMPBMessage {
  public:
    // A deep copy of `info`; nullptr when `info` is of another message type. nullptr makes an
    // empty message.
    static std::shared_ptr<Self> initWithMessageInfo(const ZDMPBMessageInfo* info) {
        std::shared_ptr<Self> object(new Self);
        return object->copyFrom(info) ? object : nullptr;
    }
    // The decoded message; nullptr when the bytes do not decode. No bytes is an empty message.
    static std::shared_ptr<Self> initWithBuffer(const Data& data) {
        std::shared_ptr<Self> object(new Self);
        return object->decodeFrom(data.data(), data.size()) ? object : nullptr;
    }
    static std::shared_ptr<Self> initWithBuffer(std::nullptr_t) { return initWithBuffer(Data()); }
    // The class as GetMessage and GetArray take it.
    static const ZDMPBClass& messageClass() {
        static const ZDMPBClass cls{Self::kClassName, [](const ZDMPBMessageInfo* info) {
                                        return std::shared_ptr<NANOMessageBase>(initWithMessageInfo(info));
                                    }};
        return cls;
    }

  protected:
    ZDMPBMessageOf() : ZDMPBMessage(D) {}
};

#define ZDMPB_MESSAGE_CLASS(M)                                                      \
    extern const ZDMPBMessageDescriptor kZDMPB##M##Descriptor;                      \
    class ZDMPB##M final : public ZDMPBMessageOf<ZDMPB##M, kZDMPB##M##Descriptor> { \
      public:                                                                       \
        static constexpr const char* kClassName = "ZDMPB" #M;                       \
                                                                                    \
      private:                                                                      \
        friend class ZDMPBMessageOf<ZDMPB##M, kZDMPB##M##Descriptor>;               \
        ZDMPB##M() = default;                                                       \
    }
