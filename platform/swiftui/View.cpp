#include "platform/swiftui/View.h"

std::shared_ptr<const View> View::modifier(std::shared_ptr<const ViewModifier> modifier) const {
    return std::make_shared<ModifiedContent>(shared_from_this(), std::move(modifier));
}

std::shared_ptr<const View> _AppearanceActionModifier::body(Content content) const {
    return content;
}
