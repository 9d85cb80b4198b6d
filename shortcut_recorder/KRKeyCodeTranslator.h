#pragma once
// Library-internal: what a key types on a keyboard layout, by key code and modifier flags, cached
// per (input source ID, implicit flags, explicit flags, key code). The key-code transformers are
// its only clients. Any thread may call in; cache lookup, translation and store are serialised on
// the translator.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/carbon/TextInputSources.h"

inline constexpr uint16_t KRKeyCodeNone = 0xFFFF;
// Shift, Control, Option and Command: the only flags that take part in translation and caching.
inline constexpr uint64_t KRModifierFlagsMask = 0x1E0000;

// Implicit flags take effect in the produced character (Shift makes 2 type @); explicit flags are
// drawn separately by the caller and only tell cache entries apart.
class KRKeyCodeTranslatorCacheKey {
  public:
    KRKeyCodeTranslatorCacheKey(std::string identifier, uint64_t implicitModifierFlags,
                                uint64_t explicitModifierFlags, uint16_t keyCode);

    const std::string& identifier() const { return identifier_; }
    uint64_t implicitModifierFlags() const { return implicitModifierFlags_; }
    uint64_t explicitModifierFlags() const { return explicitModifierFlags_; }
    uint16_t keyCode() const { return keyCode_; }

    bool operator==(const KRKeyCodeTranslatorCacheKey& other) const;
    // With the masked flags the implicit bits land in bits 16-19 and the explicit ones in 20-23.
    size_t hash() const;

  private:
    uint16_t keyCode_;
    std::string identifier_;
    uint64_t implicitModifierFlags_;
    uint64_t explicitModifierFlags_;
};

class KRKeyCodeTranslator {
  public:
    // Answers a newly made source each time, or null when it has none.
    using InputSourceCreator = std::function<TISInputSourceRef()>;

    // Translates on the current keyboard layout.
    static std::shared_ptr<KRKeyCodeTranslator> shared();

    explicit KRKeyCodeTranslator(InputSourceCreator creator);
    explicit KRKeyCodeTranslator(TISInputSourceRef source);
    virtual ~KRKeyCodeTranslator() = default;
    KRKeyCodeTranslator(const KRKeyCodeTranslator&) = delete;
    KRKeyCodeTranslator& operator=(const KRKeyCodeTranslator&) = delete;

    const InputSourceCreator& inputSourceCreator() const { return creator_; }
    // The fixed source, else a new one from the creator; null when that fails.
    TISInputSourceRef inputSource() const;

    // "" for KRKeyCodeNone; nil when there is no source, no layout data or no translation. A failure
    // is never cached, so the next call tries again.
    std::optional<std::string> translateKeyCode(uint16_t keyCode, uint64_t implicitModifierFlags,
                                                uint64_t explicitModifierFlags, bool usingCache);

  private:
    struct KeyHash {
        size_t operator()(const KRKeyCodeTranslatorCacheKey& key) const { return key.hash(); }
    };
    // The cache stands for one the system may evict at will: when it is full it starts over, which
    // bounds it however many layouts and flag combinations come by.
    static constexpr size_t kCacheLimit = 4096;

    std::optional<std::string> translate(const TISInputSource& source, uint16_t keyCode,
                                         uint64_t implicitFlags);

    std::mutex mutex_;
    std::unordered_map<KRKeyCodeTranslatorCacheKey, std::string, KeyHash> translationCache_;
    TISInputSourceRef inputSource_;
    InputSourceCreator creator_;
};
