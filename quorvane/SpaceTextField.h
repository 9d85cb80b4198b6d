#pragma once
// The framed name field of a space preview: a white rounded box holding a centred text field.
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/NSTextField.h"

class SpaceTextField : public NSView {
  public:
    explicit SpaceTextField(CGRect frame = {});

    const std::optional<std::string>& name() const { return name_; }
    void setName(std::optional<std::string> name) { name_ = std::move(name); }
    const std::shared_ptr<NSTextField>& textField() const { return textField_; }

    CGSize intrinsicContentSize() const override { return {175, 36}; }

  private:
    std::optional<std::string> name_;
    std::shared_ptr<NSTextField> textField_;
};
