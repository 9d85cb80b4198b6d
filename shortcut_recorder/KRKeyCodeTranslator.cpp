#include "shortcut_recorder/KRKeyCodeTranslator.h"

#include "platform/appkit/NSEventModifierFlags.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/UnicodeText.h"

namespace {

constinit SharedInstance<KRKeyCodeTranslator> sharedTranslator{[] {
    return std::make_shared<KRKeyCodeTranslator>(
        KRKeyCodeTranslator::InputSourceCreator(&TISCopyCurrentKeyboardLayoutInputSource));
}};

// UCKeyTranslate's modifier state: the Carbon modifier bits (Command 0x100, Shift 0x200, Option
// 0x800, Control 0x1000) shifted right by 8.
uint32_t carbonModifierState(uint64_t flags) {
    uint32_t state = 0;
    if (flags & NSEventModifierFlagCommand) state |= kUCModifierCommand;
    if (flags & NSEventModifierFlagShift) state |= kUCModifierShift;
    if (flags & NSEventModifierFlagOption) state |= kUCModifierOption;
    if (flags & NSEventModifierFlagControl) state |= kUCModifierControl;
    return state;
}

constexpr UniCharCount kMaxTranslationLength = 255;

}  // namespace

KRKeyCodeTranslatorCacheKey::KRKeyCodeTranslatorCacheKey(std::string identifier,
                                                         uint64_t implicitModifierFlags,
                                                         uint64_t explicitModifierFlags, uint16_t keyCode)
    : keyCode_(keyCode),
      identifier_(std::move(identifier)),
      implicitModifierFlags_(implicitModifierFlags & KRModifierFlagsMask),
      explicitModifierFlags_(explicitModifierFlags & KRModifierFlagsMask) {}

bool KRKeyCodeTranslatorCacheKey::operator==(const KRKeyCodeTranslatorCacheKey& other) const {
    return keyCode_ == other.keyCode_ && explicitModifierFlags_ == other.explicitModifierFlags_ &&
           implicitModifierFlags_ == other.implicitModifierFlags_ && identifier_ == other.identifier_;
}

size_t KRKeyCodeTranslatorCacheKey::hash() const {
    return size_t(keyCode_) | size_t(implicitModifierFlags_ >> 1) | size_t(explicitModifierFlags_ << 3) |
           (std::hash<std::string>{}(identifier_) << 24);
}

std::shared_ptr<KRKeyCodeTranslator> KRKeyCodeTranslator::shared() {
    return sharedTranslator.get();
}

KRKeyCodeTranslator::KRKeyCodeTranslator(InputSourceCreator creator) : creator_(std::move(creator)) {}

KRKeyCodeTranslator::KRKeyCodeTranslator(TISInputSourceRef source) : inputSource_(std::move(source)) {}

TISInputSourceRef KRKeyCodeTranslator::inputSource() const {
    if (inputSource_) return inputSource_;
    return creator_ ? creator_() : nullptr;
}

std::optional<std::string> KRKeyCodeTranslator::translateKeyCode(uint16_t keyCode,
                                                                 uint64_t implicitModifierFlags,
                                                                 uint64_t explicitModifierFlags,
                                                                 bool usingCache) {
    if (keyCode == KRKeyCodeNone) return "";
    TISInputSourceRef source = inputSource();
    if (!source) {
        traceLog(TraceLevel::Fault, "#Critical Failed to create an input source");
        return std::nullopt;
    }
    implicitModifierFlags &= KRModifierFlagsMask;
    std::optional<KRKeyCodeTranslatorCacheKey> cacheKey;
    if (usingCache) {
        if (const auto& identifier = source->inputSourceID())
            cacheKey.emplace(*identifier, implicitModifierFlags, explicitModifierFlags, keyCode);
        else
            traceLog(TraceLevel::Error, "#Error Input source misses an ID");
    }

    std::lock_guard lock(mutex_);
    if (cacheKey) {
        if (auto hit = translationCache_.find(*cacheKey); hit != translationCache_.end()) {
            traceLog(TraceLevel::Debug, "Translation cache hit");
            return hit->second;
        }
        traceLog(TraceLevel::Debug, "Translation cache miss");
    }
    auto translation = translate(*source, keyCode, implicitModifierFlags);
    if (translation && cacheKey) {
        if (translationCache_.size() >= kCacheLimit) translationCache_.clear();
        translationCache_.emplace(std::move(*cacheKey), *translation);
    }
    return translation;
}

std::optional<std::string> KRKeyCodeTranslator::translate(const TISInputSource& source, uint16_t keyCode,
                                                          uint64_t implicitFlags) {
    // Some input methods bring no layout of their own; reading through the missing data is what a
    // translation must never do, so it fails like any other.
    const UCKeyboardLayout* layout = source.unicodeKeyLayoutData();
    UniChar units[kMaxTranslationLength] = {};
    UniCharCount length = 0;
    uint32_t deadKeyState = 0;
    OSStatus status =
        layout ? UCKeyTranslate(layout, keyCode, kUCKeyActionDisplay, carbonModifierState(implicitFlags),
                                LMGetKbdType(), 0, &deadKeyState, kMaxTranslationLength, &length, units)
               : paramErr;
    if (status != noErr) {
        traceLogFormat(TraceLevel::Error, "#Error Unable to translate keyCode %hu and modifierFlags %lu: %d",
                       keyCode, static_cast<unsigned long>(implicitFlags), status);
        return std::nullopt;
    }
    if (length == 0) {
        traceLogFormat(TraceLevel::Debug,
                       "#Error No translation exists for keyCode %hu and modifierFlags %lu", keyCode,
                       static_cast<unsigned long>(implicitFlags));
        return std::nullopt;
    }
    return utf8String(std::u16string(units, units + length));
}
