#pragma once
// The declarative user-interface framework, as far as view modifiers need it: views that are made
// of other views, modifiers that wrap a view's content, and the appearance-action modifier behind
// an on-appear action. Views are immutable values held by shared pointer; the framework, not the
// app, decides when a view appears (see testing/HostingView.h for the tests' host).
#include <functional>
#include <memory>

class ViewModifier;

class View : public std::enable_shared_from_this<View> {
  public:
    virtual ~View() = default;
    // What this view is made of; a primitive view is made of nothing.
    virtual std::shared_ptr<const View> body() const { return nullptr; }
    // This view with `modifier` applied.
    std::shared_ptr<const View> modifier(std::shared_ptr<const ViewModifier> modifier) const;
};

// Makes a new view of the content it is applied to.
class ViewModifier {
  public:
    using Content = std::shared_ptr<const View>;
    virtual ~ViewModifier() = default;
    virtual std::shared_ptr<const View> body(Content content) const = 0;
};

// A view with a modifier applied: what the modifier's body makes of the content.
class ModifiedContent : public View {
  public:
    ModifiedContent(std::shared_ptr<const View> content, std::shared_ptr<const ViewModifier> modifier)
        : content_(std::move(content)), modifier_(std::move(modifier)) {}
    const std::shared_ptr<const View>& content() const { return content_; }
    const std::shared_ptr<const ViewModifier>& modifier() const { return modifier_; }
    std::shared_ptr<const View> body() const override { return modifier_->body(content_); }

  private:
    std::shared_ptr<const View> content_;
    std::shared_ptr<const ViewModifier> modifier_;
};

// Runs `appear` each time the content appears and `disappear` each time it disappears. Primitive:
// the host calls the actions, so its body is the content it was applied to.
class _AppearanceActionModifier : public ViewModifier {
  public:
    _AppearanceActionModifier(std::function<void()> appear, std::function<void()> disappear)
        : appear_(std::move(appear)), disappear_(std::move(disappear)) {}
    std::shared_ptr<const View> body(Content content) const override;
    const std::function<void()>& appear() const { return appear_; }
    const std::function<void()>& disappear() const { return disappear_; }

  private:
    std::function<void()> appear_;
    std::function<void()> disappear_;
};
