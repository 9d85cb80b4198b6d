#pragma once
// Registers the core's classes with the archiving helper: the classes its archives may hold, and
// the names older versions archived them under.
class DIZArchiverUtil {
  public:
    static void addAllowedDudIzizozModuleClasses();
};
