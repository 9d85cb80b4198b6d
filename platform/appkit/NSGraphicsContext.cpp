#include "platform/appkit/NSGraphicsContext.h"

namespace {
thread_local NSGraphicsContext* gCurrent = nullptr;
}

NSGraphicsContext* NSGraphicsContext::currentContext() {
    return gCurrent;
}

NSGraphicsContext* NSGraphicsContext::setCurrentContext(NSGraphicsContext* context) {
    auto* previous = gCurrent;
    gCurrent = context;
    return previous;
}

void NSGraphicsContext::saveGraphicsState() {
    saved_.push_back({fill_, stroke_, operation_});
}

void NSGraphicsContext::restoreGraphicsState() {
    if (saved_.empty()) return;
    fill_ = saved_.back().fill;
    stroke_ = saved_.back().stroke;
    operation_ = saved_.back().operation;
    saved_.pop_back();
}

void NSGraphicsContext::fillRect(const CGRect& rect, NSCompositingOperation op) {
    DrawOperation d;
    d.kind = DrawOperation::Kind::FillRect;
    d.rect = rect;
    d.color = fill_;
    d.operation = op;
    ops_.push_back(std::move(d));
}

void NSGraphicsContext::fillPath(const CGRect& rect, CGFloat cornerRadius) {
    DrawOperation d;
    d.kind = DrawOperation::Kind::FillPath;
    d.rect = rect;
    d.cornerRadius = cornerRadius;
    d.color = fill_;
    d.operation = operation_;
    ops_.push_back(std::move(d));
}

void NSGraphicsContext::strokePath(const CGRect& rect, CGFloat cornerRadius, CGFloat lineWidth) {
    DrawOperation d;
    d.kind = DrawOperation::Kind::StrokePath;
    d.rect = rect;
    d.cornerRadius = cornerRadius;
    d.color = stroke_;
    d.lineWidth = lineWidth;
    d.operation = operation_;
    ops_.push_back(std::move(d));
}

void NSGraphicsContext::drawImages(DrawOperation::Kind kind, std::vector<std::string> images,
                                   const CGRect& rect, NSCompositingOperation op) {
    DrawOperation d;
    d.kind = kind;
    d.rect = rect;
    d.images = std::move(images);
    d.operation = op;
    ops_.push_back(std::move(d));
}

void NSGraphicsContext::drawString(std::string text, const CGRect& rect, int options,
                                   const TextAttributes& attributes) {
    DrawOperation d;
    d.kind = DrawOperation::Kind::String;
    d.rect = rect;
    d.text = std::move(text);
    d.attributes = attributes;
    d.options = options;
    d.operation = operation_;
    ops_.push_back(std::move(d));
}

std::vector<std::string> NSGraphicsContext::strings() const {
    std::vector<std::string> out;
    for (const auto& op : ops_)
        if (op.kind == DrawOperation::Kind::String) out.push_back(op.text);
    return out;
}

void NSRectFill(const CGRect& rect) {
    if (auto* context = NSGraphicsContext::currentContext())
        context->fillRect(rect, context->compositingOperation());
}

void NSRectFillUsingOperation(const CGRect& rect, NSCompositingOperation op) {
    if (auto* context = NSGraphicsContext::currentContext()) context->fillRect(rect, op);
}

void NSBezierPath::fill() const {
    if (auto* context = NSGraphicsContext::currentContext()) context->fillPath(rect_, radius_);
}

void NSBezierPath::stroke() const {
    if (auto* context = NSGraphicsContext::currentContext()) context->strokePath(rect_, radius_, lineWidth_);
}
