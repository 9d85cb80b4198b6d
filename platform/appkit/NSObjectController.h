#pragma once
// A controller of one content object. Bindings read it through "selection.<key>", which answers the
// no-selection marker while there is no content; its own content can be bound with the
// content-object binding. Main thread only.
#include <optional>
#include <string>

#include "platform/appkit/NSController.h"
#include "platform/appkit/NSKeyValueBinding.h"

inline constexpr const char* NSContentObjectBinding = "contentObject";

class NSObjectController : public NSObject, public NSController {
  public:
    explicit NSObjectController(AnyObject content = {}) : content_(std::move(content)) {}

    const AnyObject& content() const { return content_; }
    // Observers of "content" and of "selection" hear of the change.
    void setContent(AnyObject content);

    // "content", "selection" and "selection.<key>"; other paths are nil.
    AnyObject valueForKeyPath(std::string_view keyPath) const override;
    // The value of `key` of the single selected object. Without content the no-selection marker;
    // the stand-in reads no key of a content object, so nil otherwise.
    virtual AnyObject singleValueForKey(std::string_view key) const;

    virtual void bind(const std::string& binding, NSObservedObject object, std::optional<std::string> keyPath,
                      std::optional<NSBindingOptions> options = std::nullopt);
    virtual void unbind(const std::string& binding) { bindings_.unbind(binding); }
    std::optional<NSBindingInfo> infoForBinding(const std::string& binding) const {
        return bindings_.infoForBinding(binding);
    }

    // A new content object; nil in the stand-in, which knows no object class.
    virtual AnyObject newObject() { return {}; }
    virtual void addObject(const AnyObject& object) { setContent(object); }
    virtual void removeObject(const AnyObject& object);

  protected:
    // Runs after the content changed, before observers of "selection" hear of it.
    virtual void selectionWillFinishChanging() {}

  private:
    AnyObject content_;
    NSBindings bindings_;
};
