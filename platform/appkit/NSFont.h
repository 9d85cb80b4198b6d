#pragma once
// The system font at a size and weight. Text is measured with fixed metrics (see NSStringDrawing),
// so sizes that depend on text are the same on every machine.
#include <optional>
#include <string>

#include "platform/foundation/Geometry.h"

using NSFontWeight = CGFloat;
inline constexpr NSFontWeight NSFontWeightRegular = 0.0;
inline constexpr NSFontWeight NSFontWeightMedium = 0.23;
inline constexpr NSFontWeight NSFontWeightSemibold = 0.3;
inline constexpr NSFontWeight NSFontWeightBold = 0.4;

enum class NSControlSize { Regular = 0, Small = 1, Mini = 2, Large = 3 };

class NSFont {
  public:
    static NSFont systemFontOfSize(CGFloat size, NSFontWeight weight = NSFontWeightRegular);
    static CGFloat systemFontSize() { return 13; }
    static CGFloat systemFontSizeForControlSize(NSControlSize size);
    // A font of a family the system has (Helvetica, Helvetica Neue, Lucida Grande, Menlo, Monaco);
    // none for any other name. The system font's own name gives the system font.
    static std::optional<NSFont> fontWithName(const std::string& name, CGFloat size);
    static constexpr const char* systemFontName = ".AppleSystemUIFont";

    const std::string& fontName() const { return name_; }

    CGFloat pointSize() const { return size_; }
    NSFontWeight weight() const { return weight_; }
    bool operator==(const NSFont&) const = default;

    NSFont() = default;  // the system font at the system size

  private:
    NSFont(CGFloat size, NSFontWeight weight) : size_(size), weight_(weight) {}
    std::string name_ = systemFontName;
    CGFloat size_ = 13;
    NSFontWeight weight_ = NSFontWeightRegular;
};
