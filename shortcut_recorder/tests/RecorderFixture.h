#pragma once
// Tests of the recorder control: a control in a key window of its own, first responder, with the
// simulated keyboard, hot keys, sound and accessibility notices starting empty. `log` collects what
// the control's partners hear, in order.
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSAccessibility.h"
#include "platform/appkit/NSWindow.h"
#include "platform/carbon/CarbonEvents_simulated.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemLog.h"
#include "shortcut_recorder/KRRecorderControl.h"
#include "shortcut_recorder/tests/StyleFixture.h"

inline constexpr uint16_t kKeyA = 0, kKeyZ = 6, kKeySpace = 49, kKeyDelete = 51, kKeyEscape = 53;
inline constexpr uint16_t kKeyCommand = 55, kKeyShift = 56;

// A delegate whose answers a test sets; nullopt answers stand for methods it does not have.
class RecordingDelegate : public KRRecorderControlDelegate {
  public:
    explicit RecordingDelegate(std::vector<std::string>& log) : log_(log) {}
    std::optional<bool> shouldBegin, canRecord, legacyCanRecord, isValidObject, unconditionally;
    bool hasDidBegin = true, hasDidEnd = true, hasLegacyDidEnd = true;

    std::optional<bool> recorderControlShouldBeginRecording(KRRecorderControl&) override {
        return shouldBegin;
    }
    bool recorderControlDidBeginRecording(KRRecorderControl&) override {
        if (hasDidBegin) log_.push_back("recorderControlDidBeginRecording:");
        return hasDidBegin;
    }
    std::optional<bool> recorderControlShouldUnconditionallyAllowModifierFlags(KRRecorderControl&, uint64_t,
                                                                               uint16_t) override {
        return unconditionally;
    }
    std::optional<bool> recorderControlCanRecordShortcut(KRRecorderControl&, const KRShortcut&) override {
        if (canRecord) log_.push_back("recorderControl:canRecordShortcut:");
        return canRecord;
    }
    std::optional<bool> keyRecorderCanRecordShortcut(KRRecorderControl&, const Dictionary&) override {
        if (legacyCanRecord) log_.push_back("keyRecorder:canRecordShortcut:");
        return legacyCanRecord;
    }
    std::optional<bool> controlIsValidObject(NSControl&, const KRShortcut&) override {
        if (isValidObject) log_.push_back("control:isValidObject:");
        return isValidObject;
    }
    bool recorderControlDidEndRecording(KRRecorderControl&) override {
        if (hasDidEnd) log_.push_back("recorderControlDidEndRecording:");
        return hasDidEnd;
    }
    bool keyRecorderDidEndRecording(KRRecorderControl&) override {
        if (hasLegacyDidEnd) log_.push_back("keyRecorderDidEndRecording:");
        return hasLegacyDidEnd;
    }

  private:
    std::vector<std::string>& log_;
};

// A model object the control is bound to: it takes values by key path and hears of editing.
class BoundModel : public NSObject {
  public:
    explicit BoundModel(std::vector<std::string>& log) : log_(log) {
        registerMethod("objectDidBeginEditing:", {"v", 3}, [this](NSObject*) {
            log_.push_back("objectDidBeginEditing:");
            return true;
        });
        registerMethod("objectDidEndEditing:", {"v", 3}, [this](NSObject*) {
            log_.push_back("objectDidEndEditing:");
            return true;
        });
        registerMethod("recorded:", {"v", 3}, [this](NSObject*) {
            log_.push_back("recorded:");
            return true;
        });
    }
    bool setValueForKeyPath(const AnyObject& value, std::string_view keyPath) override {
        log_.push_back("set " + std::string(keyPath));
        received.push_back(value);
        return true;
    }
    std::vector<AnyObject> received;

  private:
    std::vector<std::string>& log_;
};

class RecorderTest : public StyleTest {
  protected:
    RecorderTest() {
        resetAllForTesting();
        SimulatedCarbonEvents::reset();
        SimulatedAccessibility::reset();
        SimulatedSound::reset();
        NSEvent::setCurrentModifierFlags(0);
        window = std::make_shared<NSWindow>(CGRect{0, 0, 300, 100}, NSWindowStyleMaskTitled,
                                            NSBackingStoreType::Buffered, false);
        window->setContentView(std::make_shared<NSView>(CGRect{0, 0, 300, 100}));
        window->contentView()->addSubview(control);
        window->makeKeyAndOrderFront(nullptr);
        window->makeFirstResponder(control.get());
    }
    ~RecorderTest() override {
        window->close();
        NSEvent::setCurrentModifierFlags(0);
        SimulatedCarbonEvents::reset();
        resetAllForTesting();
    }

    std::shared_ptr<NSEvent> key(uint16_t keyCode, uint64_t flags, std::string characters = "",
                                 NSEventType type = NSEventType::KeyDown) {
        return NSEvent::keyEvent(type, keyCode, std::move(characters), flags, window);
    }
    static std::shared_ptr<KRShortcut> shortcut(uint16_t keyCode, uint64_t flags) {
        return KRShortcut::shortcutWithCode(keyCode, flags, std::nullopt, std::nullopt);
    }
    std::vector<std::string> accessibilityNotices() const {
        std::vector<std::string> names;
        for (const auto& posted : SimulatedAccessibility::postedNotifications())
            if (posted.element == control.get()) names.push_back(posted.name);
        return names;
    }

    std::shared_ptr<KRRecorderControl> control = KRRecorderControl::initWithFrame({10, 10, 150, 24});
    std::shared_ptr<NSWindow> window;
    std::vector<std::string> log;
};
