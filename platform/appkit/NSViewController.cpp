#include "platform/appkit/NSViewController.h"

#include "platform/appkit/NSAnimationContext.h"
#include "platform/appkit/NSWindow.h"

const std::shared_ptr<NSView>& NSViewController::view() {
    if (!view_) {
        loadView();
        if (!view_) setView(std::make_shared<NSView>());
        viewDidLoad();
    }
    return view_;
}

NSViewController::~NSViewController() {
    if (view_ && view_->viewController() == this) view_->setViewController(nullptr);
}

void NSViewController::setView(std::shared_ptr<NSView> view) {
    if (view_ && view_->viewController() == this) view_->setViewController(nullptr);
    view_ = std::move(view);
    if (view_) view_->setViewController(this);
}

NSResponder* NSViewController::nextResponder() const {
    if (!view_) return nullptr;
    if (view_->superview()) return view_->superview();
    return view_->window();
}

void NSViewController::loadView() {
    view_ = std::make_shared<NSView>();
}

void NSViewController::setChildViewControllers(std::vector<std::shared_ptr<NSViewController>> children) {
    for (auto& child : children_) child->parent_ = nullptr;
    children_ = std::move(children);
    for (auto& child : children_) child->parent_ = this;
}

void NSViewController::addChildViewController(const std::shared_ptr<NSViewController>& child) {
    if (!child) return;
    children_.push_back(child);
    child->parent_ = this;
}

void NSViewController::transitionFromViewController(const std::shared_ptr<NSViewController>& from,
                                                    const std::shared_ptr<NSViewController>& to,
                                                    NSViewControllerTransitionOptions options,
                                                    std::function<void()> completion) {
    transition(from, to, options, std::move(completion));
}

void NSViewController::transition(const std::shared_ptr<NSViewController>& from,
                                  const std::shared_ptr<NSViewController>& to,
                                  NSViewControllerTransitionOptions options,
                                  std::function<void()> completion) {
    if (!from || !to) return;
    NSView* superview = from->view()->superview();
    if (superview && to->view() != from->view()) {
        superview->addSubview(to->view());
        from->view()->removeFromSuperview();
    }
    if (!completion) return;
    constexpr NSViewControllerTransitionOptions animations = 0x1F1;
    if (options & animations)
        NSAnimationContext::afterCurrentDuration(std::move(completion));
    else
        completion();
}
