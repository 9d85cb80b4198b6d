#pragma once
// Brings exceptions that the application reports from its main thread, and that would otherwise
// never reach a handler, to the crash service's uncaught-exception handler: the application's
// report entry is replaced by one that tells the service first. The host can switch this off with
// the Info.plist key "DudIzizozApplicationForwarderEnabled"; the user defaults' crash-on-exceptions
// flag must be set for it to act.
class DIZApplicationForwarder {
  public:
    static constexpr const char* kEnabledKey = "DudIzizozApplicationForwarderEnabled";
    static constexpr const char* kCrashOnExceptionsKey = "NSApplicationCrashOnExceptions";

    // Replaces each entry once per process; later calls only log.
    static void registerForwarding();
};
