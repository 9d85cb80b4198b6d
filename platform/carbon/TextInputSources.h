#pragma once
// Text input sources: the keyboard layouts and input methods the user can select. The current
// keyboard layout is the one keys are translated with; the current ASCII-capable one is the last
// selected source that types ASCII, which shortcuts name their keys by.
#include <memory>
#include <optional>
#include <string>

#include "platform/carbon/MacTypes.h"
#include "platform/carbon/UnicodeUtilities.h"

class TISInputSource {
  public:
    TISInputSource(std::optional<std::string> inputSourceID, bool asciiCapable,
                   std::shared_ptr<const UCKeyboardLayout> layout)
        : id_(std::move(inputSourceID)), asciiCapable_(asciiCapable), layout_(std::move(layout)) {}

    // kTISPropertyInputSourceID
    const std::optional<std::string>& inputSourceID() const { return id_; }
    // kTISPropertyInputSourceIsASCIICapable
    bool isASCIICapable() const { return asciiCapable_; }
    // kTISPropertyUnicodeKeyLayoutData: null for an input method that brings no layout of its own.
    const UCKeyboardLayout* unicodeKeyLayoutData() const { return layout_.get(); }

  private:
    std::optional<std::string> id_;
    bool asciiCapable_;
    std::shared_ptr<const UCKeyboardLayout> layout_;
};

// The caller owns what a Copy function returns; null when there is no such source.
using TISInputSourceRef = std::shared_ptr<const TISInputSource>;

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource();
TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource();
// Makes the source current (and the current ASCII-capable one when it types ASCII), then posts
// kTISNotifySelectedKeyboardInputSourceChanged on the distributed notification center.
OSStatus TISSelectInputSource(const TISInputSourceRef& source);

inline constexpr const char* kTISNotifySelectedKeyboardInputSourceChanged =
    "kTISNotifySelectedKeyboardInputSourceChanged";

// The physical keyboard's type, as UCKeyTranslate takes it.
uint8_t LMGetKbdType();
