#pragma once
// A drawing context that records what is drawn into it, so a display pass can be read back:
// filled and stroked shapes with their colours, and strings with their rectangles and attributes.
// A view's display pass draws into a fresh context per view (see NSView::drawing()).
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSColor.h"
#include "platform/appkit/NSStringDrawing.h"
#include "platform/foundation/Geometry.h"

enum class NSCompositingOperation { Clear = 0, Copy = 1, SourceOver = 2 };

struct DrawOperation {
    enum class Kind { FillRect, FillPath, StrokePath, String, Image, ThreePartImage };
    Kind kind = Kind::FillRect;
    CGRect rect;  // the shape's bounding rectangle, or the string's rectangle
    CGFloat cornerRadius = 0;
    std::optional<NSColor> color;  // fill or stroke colour in effect
    CGFloat lineWidth = 0;
    NSCompositingOperation operation = NSCompositingOperation::SourceOver;
    std::string text;
    // The image drawn, or the left, centre and right images of a three-part image, by name.
    std::vector<std::string> images;
    TextAttributes attributes;
    int options = 0;
};

class NSGraphicsContext {
  public:
    static NSGraphicsContext* currentContext();
    // Makes `context` current (null: none) and returns the previous one.
    static NSGraphicsContext* setCurrentContext(NSGraphicsContext* context);

    NSCompositingOperation compositingOperation() const { return operation_; }
    void setCompositingOperation(NSCompositingOperation op) { operation_ = op; }
    void setFillColor(const NSColor& color) { fill_ = color; }
    void setStrokeColor(const NSColor& color) { stroke_ = color; }
    void saveGraphicsState();
    void restoreGraphicsState();

    void fillRect(const CGRect& rect, NSCompositingOperation op);
    void fillPath(const CGRect& rect, CGFloat cornerRadius);
    void strokePath(const CGRect& rect, CGFloat cornerRadius, CGFloat lineWidth);
    void drawString(std::string text, const CGRect& rect, int options, const TextAttributes& attributes);
    // Images by name into `rect`: one, or the three parts of a horizontal three-part image.
    void drawImages(DrawOperation::Kind kind, std::vector<std::string> images, const CGRect& rect,
                    NSCompositingOperation op);

    const std::vector<DrawOperation>& operations() const { return ops_; }
    // The strings drawn, in order.
    std::vector<std::string> strings() const;

  private:
    struct State {
        std::optional<NSColor> fill, stroke;
        NSCompositingOperation operation;
    };
    std::optional<NSColor> fill_, stroke_;
    NSCompositingOperation operation_ = NSCompositingOperation::SourceOver;
    std::vector<State> saved_;
    std::vector<DrawOperation> ops_;
};

// Fills `rect` with the current fill colour (NSRectFill and NSRectFillUsingOperation).
void NSRectFill(const CGRect& rect);
void NSRectFillUsingOperation(const CGRect& rect, NSCompositingOperation op);

// A rectangle or rounded rectangle path.
class NSBezierPath {
  public:
    static NSBezierPath bezierPathWithRect(const CGRect& rect) { return NSBezierPath(rect, 0); }
    static NSBezierPath bezierPathWithRoundedRect(const CGRect& rect, CGFloat xRadius, CGFloat yRadius) {
        return NSBezierPath(rect, std::min(xRadius, yRadius));
    }
    const CGRect& bounds() const { return rect_; }
    CGFloat lineWidth() const { return lineWidth_; }
    void setLineWidth(CGFloat width) { lineWidth_ = width; }
    void fill() const;
    void stroke() const;

  private:
    NSBezierPath(const CGRect& rect, CGFloat radius) : rect_(rect), radius_(radius) {}
    CGRect rect_;
    CGFloat radius_ = 0;
    CGFloat lineWidth_ = 1;
};
