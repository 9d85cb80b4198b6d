#pragma once
// The tests' host for a view: it makes its root view appear and disappear as the framework does
// when a window shows or hides it, running the appearance actions of every view it is made of, the
// outer ones first.
#include <memory>

#include "platform/swiftui/View.h"

class HostingView {
  public:
    explicit HostingView(std::shared_ptr<const View> rootView) : rootView_(std::move(rootView)) {}
    void appear() const { visit(rootView_, &_AppearanceActionModifier::appear); }
    void disappear() const { visit(rootView_, &_AppearanceActionModifier::disappear); }

  private:
    using Action = const std::function<void()>& (_AppearanceActionModifier::*)() const;

    static void visit(const std::shared_ptr<const View>& view, Action action) {
        if (!view) return;
        if (const auto modified = std::dynamic_pointer_cast<const ModifiedContent>(view))
            if (const auto actions =
                    std::dynamic_pointer_cast<const _AppearanceActionModifier>(modified->modifier()))
                if (const auto& run = ((*actions).*action)()) run();
        visit(view->body(), action);
    }

    std::shared_ptr<const View> rootView_;
};
