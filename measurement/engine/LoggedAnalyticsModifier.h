#pragma once
// Lets a view report a screen view each time it appears: the event "screen_view" through the
// analytics interface, with the screen's name and class over the view's extra parameters. What the
// screen-view reporter then makes of empty or invalid names is its own decision.
#include <memory>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/swiftui/View.h"

class LoggedAnalyticsModifier : public ViewModifier {
  public:
    LoggedAnalyticsModifier(std::string screenName, std::string screenClass, Dictionary extraParameters)
        : screenName(std::move(screenName)),
          screenClass(std::move(screenClass)),
          extraParameters(std::move(extraParameters)) {}

    // The content with an appear action that logs the screen view; nothing happens on disappearing.
    std::shared_ptr<const View> body(Content content) const override;

    std::string screenName;
    std::string screenClass;
    Dictionary extraParameters;
};

// `view` reporting a screen view named `name` of `screenClass` each time it appears.
std::shared_ptr<const View> loggedAnalyticsScreen(const View& view, std::string name, std::string screenClass,
                                                  Dictionary extraParameters = {});
