#pragma once
// The outside core library's default application. Configuring it is what starts the measurement
// engine; until that engine exists here, configuring only records that it happened.
class ZUDApp {
  public:
    // A second call changes nothing.
    static void configure();
    static bool isDefaultAppConfigured();
};
