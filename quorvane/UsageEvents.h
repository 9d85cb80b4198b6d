#pragma once
// The usage events the agent reports. Each goes to both telemetry clients, the measurement client
// first; a client that is not connected drops the event. No result is read.
#include <functional>
#include <string>

namespace UsageEvents {
using Client = std::function<void(const std::string& name)>;

// The measurement client's log-event call and the reporting client's track-event call.
void connect(Client measurement, Client reporting);
// The reporting client's own call: the analytics service tracks the event by its name.
void trackWithReportingClient(const std::string& name);
// The agent's wiring at start-up: the measurement library's analytics interface and the reporting
// client receive every event.
void connectTelemetry();
// Sees every event as the measurement client knows it, connected or not (the scenario player
// reports them).
void observe(Client observer);

void record(const std::string& name);
// For the one event that the two clients know under different names.
void record(const std::string& measurementName, const std::string& reportingName);
}  // namespace UsageEvents
