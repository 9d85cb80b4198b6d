#pragma once
// Small panes of a fixed size for the settings-window tests.
#include <memory>
#include <string>
#include <vector>

#include "Settings/SettingsPane.h"

class TestPane : public SettingsPane {
  public:
    TestPane(std::string identifier, std::string title, CGSize size)
        : identifier_(std::move(identifier)), title_(std::move(title)), size_(size) {
        registerAction("paneCommand:", [this](NSObject*) { ++commands; });
    }

    Settings::PaneIdentifier paneIdentifier() const override { return Settings::PaneIdentifier(identifier_); }
    std::string paneTitle() const override { return title_; }
    std::shared_ptr<NSImage> toolbarItemIcon() const override {
        return std::make_shared<NSImage>(identifier_, CGSize{32, 32});
    }

    int commands = 0;

  protected:
    void loadView() override {
        auto view = std::make_shared<NSView>(CGRect{0, 0, size_.width, size_.height});
        setView(view);
        NSLayoutConstraint::activateConstraints(
            {view->widthAnchor().constraintEqualToConstant(size_.width),
             view->heightAnchor().constraintEqualToConstant(size_.height)});
    }

  private:
    std::string identifier_, title_;
    CGSize size_;
};

inline std::vector<std::shared_ptr<SettingsPane>> spacesAndGeneral(CGSize spaces = {500, 300},
                                                                   CGSize general = {400, 200}) {
    return {std::make_shared<TestPane>("spaces", "Spaces", spaces),
            std::make_shared<TestPane>("general", "General", general)};
}
