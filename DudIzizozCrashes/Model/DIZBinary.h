#pragma once
// One binary image loaded in a crashed process: its id (the image UUID), where it lay, what it is
// and which architecture it was built for.
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

class DIZBinary : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    using Text = std::optional<std::string>;

    DIZ_PROPERTY(Text, binaryId, BinaryId)
    DIZ_PROPERTY(Text, startAddress, StartAddress)
    DIZ_PROPERTY(Text, endAddress, EndAddress)
    DIZ_PROPERTY(Text, name, Name)
    DIZ_PROPERTY(Text, path, Path)
    DIZ_PROPERTY(Text, architecture, Architecture)
    DIZ_PROPERTY(std::optional<int64_t>, primaryArchitectureId, PrimaryArchitectureId)
    DIZ_PROPERTY(std::optional<int64_t>, architectureVariantId, ArchitectureVariantId)

    // "id" (the binary id), "startAddress", "endAddress", "name", "path", "architecture",
    // "primaryArchitectureId", "architectureVariantId", each when present.
    std::optional<Dictionary> serializeToDictionary() const override;
    // binaryId, startAddress, endAddress, name and path, in that order.
    bool isValid() const override;
    bool isEqual(const DIZBinary& other) const;
    // The text of the dictionary.
    std::string description() const;

    std::string archiveClassName() const override { return "DIZBinary"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text binaryId_, startAddress_, endAddress_, name_, path_, architecture_;
    std::optional<int64_t> primaryArchitectureId_, architectureVariantId_;
};
