#include "measurement/engine/LoggedAnalyticsModifier.h"

#include "measurement/engine/VUZArezivodo.h"

std::shared_ptr<const View> LoggedAnalyticsModifier::body(Content content) const {
    // The action keeps the values the body was built with, whatever becomes of this modifier.
    auto appear = [screenName = screenName, screenClass = screenClass, extraParameters = extraParameters] {
        Dictionary parameters = extraParameters;
        parameters.set("screen_name", Value(screenName));
        parameters.set("screen_class", Value(screenClass));
        VUZArezivodo::logEventWithName("screen_view", parameters);
    };
    return content->modifier(std::make_shared<_AppearanceActionModifier>(std::move(appear), [] {}));
}

std::shared_ptr<const View> loggedAnalyticsScreen(const View& view, std::string name, std::string screenClass,
                                                  Dictionary extraParameters) {
    return view.modifier(std::make_shared<LoggedAnalyticsModifier>(std::move(name), std::move(screenClass),
                                                                   std::move(extraParameters)));
}
