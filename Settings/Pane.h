#pragma once
// A pane described as a value: its identity and a content view, built once when the pane is made.
// Handed to the window controller, it becomes a PaneHostingController that shows the content.
#include <functional>
#include <memory>
#include <string>

#include "Settings/SettingsPane.h"
#include "Settings/SettingsTabViewController.h"
#include "platform/foundation/FatalError.h"

class KeyedUnarchiver;

namespace Settings {

template <class Content = NSView>
class Pane : public SettingsPaneConvertible {
  public:
    using ContentBuilder = std::function<std::shared_ptr<Content>()>;

    Pane(PaneIdentifier identifier, std::string title, std::shared_ptr<NSImage> toolbarIcon,
         const ContentBuilder& content)
        : identifier(std::move(identifier)),
          title(std::move(title)),
          toolbarIcon(std::move(toolbarIcon)),
          content(content ? content() : nullptr) {}

    PaneIdentifier identifier;
    std::string title;
    std::shared_ptr<NSImage> toolbarIcon;
    std::shared_ptr<Content> content;

    const std::shared_ptr<Content>& body() const { return content; }
    // A new controller each time; the content is one view, so it shows in one of them at a time.
    std::shared_ptr<SettingsPane> settingsPane() override;
};

// Shows a pane's content as its view, sized to what the content needs.
template <class Content = NSView>
class PaneHostingController : public SettingsPane {
  public:
    explicit PaneHostingController(const Pane<Content>& pane)
        : paneIdentifier_(pane.identifier),
          paneTitle_(pane.title),
          toolbarItemIcon_(pane.toolbarIcon),
          rootView_(pane.body()) {}
    PaneHostingController(PaneIdentifier identifier, std::string title, std::shared_ptr<NSImage> toolbarIcon,
                          const typename Pane<Content>::ContentBuilder& content)
        : PaneHostingController(
              Pane<Content>(std::move(identifier), std::move(title), std::move(toolbarIcon), content)) {}
    // Not offered: stops the program.
    explicit PaneHostingController(KeyedUnarchiver&) : paneIdentifier_("") {
        fatalError("init(coder:) has not been implemented");
    }

    PaneIdentifier paneIdentifier() const override { return paneIdentifier_; }
    std::string paneTitle() const override { return paneTitle_; }
    std::shared_ptr<NSImage> toolbarItemIcon() const override { return toolbarItemIcon_; }
    const std::shared_ptr<Content>& rootView() const { return rootView_; }

  protected:
    void loadView() override {
        if (!rootView_) {
            setView(std::make_shared<NSView>());
            return;
        }
        auto host = std::make_shared<NSView>(CGRect{{0, 0}, rootView_->fittingSize()});
        host->addSubview(rootView_);
        constrainToSuperviewEdges(*rootView_);
        setView(host);
    }

  private:
    PaneIdentifier paneIdentifier_;
    std::string paneTitle_;
    std::shared_ptr<NSImage> toolbarItemIcon_;
    std::shared_ptr<Content> rootView_;
};

template <class Content>
std::shared_ptr<SettingsPane> Pane<Content>::settingsPane() {
    return std::make_shared<PaneHostingController<Content>>(*this);
}

}  // namespace Settings
