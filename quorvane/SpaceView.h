#pragma once
// A space shown as a framed, translucent rectangle with its name field and shortcut field stacked
// in the centre: editable in the create overlay, read-only when an existing space is shown.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSStackView.h"
#include "platform/masshortcut/MASShortcut.h"
#include "quorvane/SpaceShortcutView.h"
#include "quorvane/SpaceTextField.h"

class SpaceView : public NSView {
  public:
    using Handler =
        std::function<void(const std::string& name, const std::shared_ptr<MASShortcut>& shortcut)>;

    static constexpr const char* kEditableNamePlaceholder = "Enter space name ...";
    static constexpr const char* kReadOnlyNamePlaceholder = "Unnamed Space";
    static constexpr const char* kReadOnlyShortcutPlaceholder = "No shortcut";

    explicit SpaceView(CGRect frame = {});

    bool editable() const { return editable_; }
    void setEditable(bool editable);
    void setOnCreateHandler(Handler handler) { onCreateHandler_ = std::move(handler); }
    const std::optional<std::string>& groupName() const { return groupName_; }
    void setGroupName(std::optional<std::string> name);
    const std::shared_ptr<MASShortcut>& groupKey() const { return groupKey_; }
    void setGroupKey(std::shared_ptr<MASShortcut> shortcut) { groupKey_ = std::move(shortcut); }
    const std::shared_ptr<SpaceTextField>& groupNameLabel() const { return groupNameLabel_; }
    const std::shared_ptr<SpaceShortcutView>& groupKeyShortcutView() const { return groupKeyShortcutView_; }

    void drawRect(const CGRect& dirtyRect) override;
    void mouseDown(const NSEvent& event) override;
    void mouseDragged(const NSEvent&) override {}
    void resetCursorRects() override;
    void createSpace();

  private:
    // What depends on the editable state and the values; the views themselves are built once.
    void updateContent();

    bool editable_ = false;
    Handler onCreateHandler_;
    std::optional<std::string> groupName_;
    std::shared_ptr<MASShortcut> groupKey_;
    std::shared_ptr<SpaceTextField> groupNameLabel_;
    std::shared_ptr<SpaceShortcutView> groupKeyShortcutView_;
};
