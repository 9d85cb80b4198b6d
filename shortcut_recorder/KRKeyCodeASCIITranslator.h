#pragma once
// Library-internal: the translator of the current ASCII-capable layout, which can also answer
// which key types a given string. The reverse map is built from the known key codes once per input
// source and rebuilt on the first lookup after the source changed.
#include <map>
#include <optional>
#include <string>

#include "shortcut_recorder/KRKeyCodeTranslator.h"

class KRKeyCodeASCIITranslator : public KRKeyCodeTranslator {
  public:
    static std::shared_ptr<KRKeyCodeASCIITranslator> shared();

    using KRKeyCodeTranslator::KRKeyCodeTranslator;

    // `translation` must be lowercase (callers lowercase first; anything else raises through the
    // assertion handler). Keys that type the same string answer with the one later in the known key
    // codes. Null when no key types it or there is no usable source.
    std::optional<uint16_t> keyCodeForTranslation(const std::string& translation);

  private:
    // Held while checking and rebuilding the map; the translation lock is taken inside it, never
    // the other way round.
    std::mutex mapMutex_;
    std::map<std::string, uint16_t> translationToKeyCode_;
    std::optional<std::string> inputSourceIdentifier_;
};
