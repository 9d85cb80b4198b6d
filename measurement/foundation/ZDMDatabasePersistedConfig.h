#pragma once
// What the measurement database reads of the library's persisted configuration: the day boundary
// and when stale rows were last deleted. ZDMPersistedConfig is the one the library hands it.

class ZDMDatabasePersistedConfig {
  public:
    virtual ~ZDMDatabasePersistedConfig() = default;
    // Seconds after midnight (UTC) at which the library's day begins.
    virtual double midnightOffset() = 0;
    // When stale raw events and bundles were last deleted (seconds since 1970).
    virtual double lastDeleteStaleBundlesTimestamp() = 0;
    virtual void setLastDeleteStaleBundlesTimestamp(double timestamp) = 0;
};
