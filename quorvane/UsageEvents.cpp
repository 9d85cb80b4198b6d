#include "quorvane/UsageEvents.h"

#include "DudIzizozAnalytics/DIZAnalytics.h"
#include "measurement/engine/VUZArezivodo.h"

namespace UsageEvents {
namespace {
Client measurementClient;
Client reportingClient;
Client eventObserver;
}  // namespace

void connect(Client measurement, Client reporting) {
    measurementClient = std::move(measurement);
    reportingClient = std::move(reporting);
}

void trackWithReportingClient(const std::string& name) {
    DIZAnalytics::trackEvent(name);
}

void connectTelemetry() {
    connect([](const std::string& name) { VUZArezivodo::logEventWithName(name, std::nullopt); },
            trackWithReportingClient);
}

void observe(Client observer) {
    eventObserver = std::move(observer);
}

void record(const std::string& name) {
    record(name, name);
}

void record(const std::string& measurementName, const std::string& reportingName) {
    if (eventObserver) eventObserver(measurementName);
    if (measurementClient) measurementClient(measurementName);
    if (reportingClient) reportingClient(reportingName);
}
}  // namespace UsageEvents
