#include "platform/appkit/NSViewController.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <string_view>
#include <typeinfo>

#include "platform/appkit/NSAnimationContext.h"
#include "platform/appkit/NSWindow.h"

namespace {

void callViewWillAppear(NSViewController& controller) {
    controller.viewWillAppear();
}

std::atomic<NSViewController::AppearEntry>& appearEntry() {
    static std::atomic<NSViewController::AppearEntry> entry{callViewWillAppear};
    return entry;
}

}  // namespace

std::string NSViewController::className() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string_view qualified = status == 0 && demangled ? demangled : mangled;
    std::string name;
    for (size_t at = 0; at < qualified.size(); ++at) {
        bool separator = qualified.compare(at, 2, "::") == 0;
        name += separator ? '.' : qualified[at];
        if (separator) ++at;
    }
    std::free(demangled);
    return name;
}

NSViewController::AppearEntry NSViewController::viewWillAppearEntry() {
    return appearEntry().load();
}

NSViewController::AppearEntry NSViewController::exchangeViewWillAppearEntry(AppearEntry entry) {
    return appearEntry().exchange(entry);
}

void NSViewController::performViewWillAppear() {
    appearEntry().load()(*this);
}

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
    setView(std::make_shared<NSView>());
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
