#pragma once
// How a paragraph of drawn text is aligned and where a line too long for its rectangle is cut.
enum class NSTextAlignment { Left, Center, Right, Justified, Natural };

enum class NSLineBreakMode {
    ByWordWrapping = 0,
    ByCharWrapping = 1,
    ByClipping = 2,
    ByTruncatingHead = 3,
    ByTruncatingTail = 4,
    ByTruncatingMiddle = 5,
};

struct NSParagraphStyle {
    NSTextAlignment alignment = NSTextAlignment::Natural;
    NSLineBreakMode lineBreakMode = NSLineBreakMode::ByWordWrapping;
    bool operator==(const NSParagraphStyle&) const = default;
};
