#pragma once
// A controller holding one shortcut: it offers display strings of it under "selection." key paths
// for bindings, keeps a recorder control's value binding in step with its own content binding, and
// turns its shortcut into a global hot key while a target is set. Main thread only.
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSObjectController.h"
#include "platform/foundation/NotificationCenter.h"
#include "shortcut_recorder/KRShortcut.h"

class KRRecorderControl;
class KRShortcutAction;

class KRShortcutController : public NSObjectController {
  public:
    // The computed key names, in the order of the fields that hold them.
    static const std::array<const char*, 8>& computedKeys();

    static std::shared_ptr<KRShortcutController> initWithContent(std::shared_ptr<KRShortcut> content);
    ~KRShortcutController() override;

    std::shared_ptr<KRShortcut> shortcut() const { return content().object<KRShortcut>(); }

    AnyObject valueForKeyPath(std::string_view keyPath) const override;
    AnyObject singleValueForKey(std::string_view key) const override;
    bool automaticallyNotifiesObserversForKey(std::string_view key) const override;

    // The content-object binding also carries the recorder control's value binding along.
    void bind(const std::string& binding, NSObservedObject object, std::optional<std::string> keyPath,
              std::optional<NSBindingOptions> options = std::nullopt) override;
    std::shared_ptr<KRRecorderControl> recorderControl() const { return recorderControl_.lock(); }
    void setRecorderControl(const std::shared_ptr<KRRecorderControl>& control);

    const std::optional<std::string>& identifier() const { return identifier_; }
    void setIdentifier(std::optional<std::string> identifier);
    const std::shared_ptr<KRShortcutAction>& shortcutAction() const { return shortcutAction_; }
    std::shared_ptr<NSObject> shortcutActionTarget() const;
    // A target makes a key-down action of the content on the shared global monitor; none removes it.
    void setShortcutActionTarget(const std::shared_ptr<NSObject>& target);

    // Raises an internal-inconsistency Exception: the controller makes no shortcuts of its own.
    AnyObject newObject() override;
    // A shortcut replaces the content; removing the content clears it.
    void addObject(const AnyObject& object) override;
    void removeObject(const AnyObject& object) override;

    bool isSelectedKeyboardInputSourceObserved() const { return layoutObserver_.has_value(); }

  protected:
    KRShortcutController() = default;
    void selectionWillFinishChanging() override;

  private:
    void recomputeFields();
    void updateLayoutObserver();
    void selectedKeyboardInputSourceDidChange();
    void refreshValueBinding();

    std::array<AnyObject, 8> fields_;
    std::optional<NotificationCenter::Token> layoutObserver_;
    std::weak_ptr<KRRecorderControl> recorderControl_;
    std::optional<std::string> identifier_;
    std::shared_ptr<KRShortcutAction> shortcutAction_;
};
