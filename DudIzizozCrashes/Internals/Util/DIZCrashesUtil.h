#pragma once
// The directories, below the client's data directory, in which the crash service keeps its files.
// Each accessor makes its directory on its first call in the process and from then on only names
// it, so a directory deleted while the process runs stays deleted until resetDirectory.
#include <string>

class DIZCrashesUtil {
  public:
    // "crashes": stored crash records and the service's marker file.
    static std::string crashesDir();
    // "crasheslogbuffer": the crash-time log buffer files.
    static std::string logBufferDir();
    // "crasheswrapperexceptions": saved wrapper exceptions.
    static std::string wrapperExceptionsDir();
    // Forgets that the directories were made, so that each accessor makes its own again.
    static void resetDirectory();
};
