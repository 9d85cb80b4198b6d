#pragma once
// Random (version 4) identifiers, written in the platform's upper-case 8-4-4-4-12 form.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class UUID {
  public:
    UUID();                                                        // a new random identifier
    static std::optional<UUID> fromString(std::string_view text);  // either case accepted
    static UUID fromBytes(const std::array<uint8_t, 16>& bytes);

    std::string uuidString() const;  // upper case
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }
    bool operator==(const UUID&) const = default;

  private:
    explicit UUID(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}
    std::array<uint8_t, 16> bytes_{};
};
