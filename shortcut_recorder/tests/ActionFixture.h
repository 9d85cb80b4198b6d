#pragma once
// Targets with methods of each shape, and a recorder of change notices, for the tests of shortcut
// actions and monitors.
#include <string>
#include <vector>

#include "platform/appkit/NSObject.h"
#include "platform/carbon/CarbonEvents_simulated.h"
#include "platform/foundation/KeyValueObserving.h"
#include "shortcut_recorder/KRShortcutAction.h"
#include "shortcut_recorder/tests/ShortcutFixture.h"

// Answers "voidAction:" (returns nothing), "boolAction:" (returns `answer`), "noArgument" and
// "twoArguments::"; optionally validates items; counts every call.
class ActionTarget : public NSObject {
  public:
    explicit ActionTarget(bool answer = true, std::optional<bool> validation = std::nullopt) {
        registerMethod("voidAction:", {"v", 3}, [this](NSObject* argument) {
            calls.push_back("voidAction:");
            received = argument;
            return false;
        });
        registerMethod("boolAction:", {"c", 3}, [this, answer](NSObject*) {
            calls.push_back("boolAction:");
            return answer;
        });
        registerMethod("noArgument", {"c", 2}, [this](NSObject* argument) {
            calls.push_back("noArgument");
            received = argument;
            return true;
        });
        registerMethod("twoArguments::", {"c", 4}, [this](NSObject*) {
            calls.push_back("twoArguments::");
            return true;
        });
        if (validation)
            registerMethod("validateUserInterfaceItem:", {"c", 3}, [this, validation](NSObject* item) {
                auto* validated = dynamic_cast<NSValidatedUserInterfaceItem*>(item);
                validatedActions.push_back(validated ? validated->action() : "<not an item>");
                return *validation;
            });
    }

    std::vector<std::string> calls;
    std::vector<std::string> validatedActions;
    NSObject* received = nullptr;
};

// Records every notice of the keys it observes as "key" or "prior key".
class NoticeRecorder : public NSKeyValueObserver {
  public:
    void observe(NSKeyValueObserving& object, const std::vector<std::string>& keys,
                 NSKeyValueObservingOptions options = NSKeyValueObservingOptionPrior) {
        for (const auto& key : keys) {
            object.addObserver(this, key, options, this);
            observed.emplace_back(&object, key);
        }
    }
    void stop() {
        for (auto& [object, key] : observed) object->removeObserver(this, key, this);
        observed.clear();
    }
    ~NoticeRecorder() override { stop(); }

    void observeValueForKeyPath(const std::string& keyPath, NSKeyValueObserving&,
                                const NSKeyValueChange& change, void*) override {
        notices.push_back(change.notificationIsPrior ? "prior " + keyPath : keyPath);
    }

    std::vector<std::string> notices;
    std::vector<std::pair<NSKeyValueObserving*, std::string>> observed;
};

class ActionTest : public ShortcutTest {
  protected:
    ActionTest() { SimulatedCarbonEvents::reset(); }
    ~ActionTest() override { SimulatedCarbonEvents::reset(); }

    static std::shared_ptr<KRShortcut> shortcut(uint16_t keyCode, uint64_t flags) {
        return KRShortcut::shortcutWithCode(keyCode, flags, std::nullopt, std::nullopt);
    }
    // An action on that shortcut whose handler counts its calls and answers `answer`.
    static std::shared_ptr<KRShortcutAction> counting(uint16_t keyCode, uint64_t flags, int& count,
                                                      bool answer = true) {
        return KRShortcutAction::shortcutActionWithShortcut(shortcut(keyCode, flags),
                                                            [&count, answer](KRShortcutAction&) {
                                                                ++count;
                                                                return answer;
                                                            });
    }
};
