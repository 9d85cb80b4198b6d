#pragma once
// Registers every class that the crash service's stored records may hold with the client's
// keyed-archive decoder, so that crash records, buffered logs and wrapper exceptions read back.
class DIZCrashesArchiverUtil {
  public:
    // Appends the classes, in a fixed order; calling it again appends them again, which decodes
    // the same.
    static void addAllowedCrashesModuleClasses();
};
