#pragma once
// Test controls of the exception server.
namespace DZCrashMachExceptionServerTesting {
// While set, starting the server's thread fails as pthread_create would for lack of resources.
void setThreadCreationFailing(bool failing);
}  // namespace DZCrashMachExceptionServerTesting
