#pragma once
// Shows one space on the screen for two seconds: a floating window at the space's rectangle with a
// read-only preview of its name and shortcut. Showing another space closes the first at once.
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NSTimer.h"
#include "platform/masshortcut/MASShortcut.h"
#include "quorvane/BorderlessWindow.h"
#include "quorvane/Group.h"

class ShowSpacesManager : public std::enable_shared_from_this<ShowSpacesManager> {
  public:
    static constexpr double kShowDuration = 2.0;

    static std::shared_ptr<ShowSpacesManager> shared();

    // `coordinates` are the space's global top-left coordinates.
    void showSpace(const std::optional<std::string>& name, std::shared_ptr<MASShortcut> shortcut,
                   const Coordinates& coordinates);
    // `frame` is in screen coordinates (origin at the bottom-left of the primary screen).
    void showSpaceWindow(const std::optional<std::string>& name, std::shared_ptr<MASShortcut> shortcut,
                         const CGRect& frame);

    const std::shared_ptr<BorderlessWindow>& groupWindow() const { return groupWindow_; }
    const std::shared_ptr<NSTimer>& timer() const { return timer_; }

  private:
    std::shared_ptr<BorderlessWindow> groupWindow_;
    std::shared_ptr<NSTimer> timer_;
};
