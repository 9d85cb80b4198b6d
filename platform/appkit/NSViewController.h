#pragma once
// Manages one view, made on first use by loadView, and a list of child controllers.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/NSResponder.h"
#include "platform/appkit/NSView.h"

using NSViewControllerTransitionOptions = uint64_t;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionNone = 0x0;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionCrossfade = 0x1;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionSlideUp = 0x10;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionSlideDown = 0x20;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionSlideLeft = 0x40;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionSlideRight = 0x80;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionSlideForward = 0x140;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionSlideBackward = 0x180;
inline constexpr NSViewControllerTransitionOptions NSViewControllerTransitionAllowUserInteraction = 0x1000;

class NSViewController : public NSResponder {
  public:
    NSViewController() = default;
    ~NSViewController() override;

    // After the view: the responder chain goes on to the view's superview (or its window).
    NSResponder* nextResponder() const override;
    // Called as the view enters a visible window, through the appear entry below.
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}

    // The class's name as the runtime reports it, namespaces joined with "." as a module-qualified
    // name would be ("quorvane.ViewController" for quorvane::ViewController).
    virtual std::string className() const;

    // What the platform runs when a controller's view is about to appear: one process-wide entry,
    // which a library may replace to run its own code around viewWillAppear (keeping the entry it
    // replaced to call through). The first entry calls viewWillAppear.
    using AppearEntry = void (*)(NSViewController& controller);
    static AppearEntry viewWillAppearEntry();
    // Installs `entry` and answers the one it replaced.
    static AppearEntry exchangeViewWillAppearEntry(AppearEntry entry);
    // Runs the current appear entry on this controller.
    void performViewWillAppear();

    CGSize preferredContentSize() const { return preferredContentSize_; }
    void setPreferredContentSize(CGSize size) { preferredContentSize_ = size; }

    // Loads the view on first use.
    const std::shared_ptr<NSView>& view();
    void setView(std::shared_ptr<NSView> view);
    bool isViewLoaded() const { return view_ != nullptr; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

    const std::vector<std::shared_ptr<NSViewController>>& childViewControllers() const { return children_; }
    void setChildViewControllers(std::vector<std::shared_ptr<NSViewController>> children);
    void addChildViewController(const std::shared_ptr<NSViewController>& child);
    NSViewController* parentViewController() const { return parent_; }

    // Puts `to`'s view where `from`'s view is (in the same superview) and takes `from`'s view out.
    // With an animation option the completion runs when the transition's duration has passed,
    // otherwise at once.
    virtual void transitionFromViewController(const std::shared_ptr<NSViewController>& from,
                                              const std::shared_ptr<NSViewController>& to,
                                              NSViewControllerTransitionOptions options,
                                              std::function<void()> completion);

  protected:
    // Makes the view; the default is an empty view.
    virtual void loadView();
    virtual void viewDidLoad() {}
    // The base class's transition, for overrides that call through.
    void transition(const std::shared_ptr<NSViewController>& from,
                    const std::shared_ptr<NSViewController>& to, NSViewControllerTransitionOptions options,
                    std::function<void()> completion);

  private:
    std::shared_ptr<NSView> view_;
    std::string title_;
    CGSize preferredContentSize_;
    std::vector<std::shared_ptr<NSViewController>> children_;
    NSViewController* parent_ = nullptr;
};
