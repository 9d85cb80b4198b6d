#pragma once
// Registers the analytics classes that the log store may decode.
class DIZAnalyticsArchiverUtil {
  public:
    // Spelled as the service's callers know it.
    static void addAllowedAnalyitcsModuleClasses();
};
