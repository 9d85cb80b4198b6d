#pragma once
// Automatic page tracking: once activated, every view controller about to appear is recorded as a
// page named after its class (module and "ViewController" suffix dropped), while the analytics
// service's automatic page tracking is on. Container controllers (tab, split, page) are never
// recorded; the controllers they show are. A page that appears while the service cannot record
// it is remembered (only the latest) and recorded once the service is enabled.
// The hook runs on the main thread, where controllers appear.
#include <optional>
#include <string>

class NSViewController;

class DIZAnalyticsCategory {
  public:
    // Installs the hook on the view controllers' appear entry, once per process.
    static void activateCategory();
    static std::optional<std::string> missedPageViewName();

    // The page name of a controller class, or nullopt for an excluded container class.
    static std::optional<std::string> pageNameForClassName(const std::string& className);
    // What the hook runs on each appearance, after the entry it replaced.
    static void viewWillAppear(NSViewController& controller);
};
