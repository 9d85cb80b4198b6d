#include "shortcut_recorder/KRKeyCodeASCIITranslator.h"

#include "platform/foundation/NSAssertionHandler.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemTrace.h"
#include "platform/foundation/UnicodeText.h"
#include "shortcut_recorder/KRKeyCodeTransformer.h"

namespace {
constinit SharedInstance<KRKeyCodeASCIITranslator> sharedASCIITranslator{[] {
    return std::make_shared<KRKeyCodeASCIITranslator>(
        KRKeyCodeTranslator::InputSourceCreator(&TISCopyCurrentASCIICapableKeyboardLayoutInputSource));
}};
}  // namespace

std::shared_ptr<KRKeyCodeASCIITranslator> KRKeyCodeASCIITranslator::shared() {
    return sharedASCIITranslator.get();
}

std::optional<uint16_t> KRKeyCodeASCIITranslator::keyCodeForTranslation(const std::string& translation) {
    NSAssert(translation == lowercaseString(translation), "aTranslation must be a lowercase string");
    TISInputSourceRef source = inputSource();
    if (!source) {
        traceLog(TraceLevel::Fault, "#Critical Failed to create an input source");
        return std::nullopt;
    }
    const auto& identifier = source->inputSourceID();
    if (!identifier) {
        traceLog(TraceLevel::Error, "#Error Input source misses an ID");
        return std::nullopt;
    }

    std::lock_guard lock(mapMutex_);
    if (identifier != inputSourceIdentifier_) {
        traceLog(TraceLevel::Debug, "Updating translation -> key code mapping");
        std::map<std::string, uint16_t> map;
        for (uint16_t keyCode : KRKeyCodeTransformer::knownKeyCodes()) {
            auto typed = translateKeyCode(keyCode, 0, 0, true);
            if (typed && !typed->empty()) map[*typed] = keyCode;
        }
        translationToKeyCode_ = std::move(map);
        inputSourceIdentifier_ = identifier;
    }
    auto found = translationToKeyCode_.find(translation);
    if (found == translationToKeyCode_.end()) return std::nullopt;
    return found->second;
}
