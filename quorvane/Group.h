#pragma once
// A space: a named rectangle of the screen with an optional hotkey and a size mode. Shared by
// reference: the hotkey action holds the object, so later edits reach the next press.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/masshortcut/MASShortcut.h"

// x1, y1, x2, y2: top-left and bottom-right corners in global window-server points.
using Coordinates = std::array<CGFloat, 4>;

// The size mode: loose ("all") or strict, where every edge must lie within the tolerance.
struct SpaceSize {
    std::optional<CGFloat> strictTolerance;
    bool isLoose() const { return !strictTolerance; }
};
inline constexpr const char* kLooseSize = "all";
// "all", or a base-10 integer with an optional sign; none for anything else.
std::optional<SpaceSize> readSpaceSize(std::string_view size);

class Group : public Codable {
  public:
    static constexpr const char* kClassName = "quorvane.Group";
    static ArchiveClass archiveClass();
    // Class-wide, as the archivers ask the class.
    static bool classSupportsSecureCoding();
    static void setSupportsSecureCoding(bool supports);

    Group() = delete;
    Group(std::string name, std::shared_ptr<MASShortcut> shortcut, Coordinates coordinates);

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    const Coordinates& coordinates() const { return coordinates_; }
    void setCoordinates(const Coordinates& coordinates) { coordinates_ = coordinates; }
    const std::shared_ptr<MASShortcut>& shortcut() const { return shortcut_; }
    void setShortcut(std::shared_ptr<MASShortcut> shortcut) { shortcut_ = std::move(shortcut); }
    const std::string& size() const { return size_; }
    void setSize(std::string size) { size_ = std::move(size); }

    std::string archiveClassName() const override { return kClassName; }
    bool supportsSecureCoding() const override { return classSupportsSecureCoding(); }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    // Rejects a space without a name, four numeric coordinates or a valid size.
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    struct Decoding {};
    explicit Group(Decoding) {}

    std::string name_;
    Coordinates coordinates_{};
    std::shared_ptr<MASShortcut> shortcut_;
    std::string size_ = kLooseSize;
};
