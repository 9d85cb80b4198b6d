#pragma once
// The advisory check of worker-queue methods: true off the main thread; on it, logs (30001) and
// answers false, and the caller goes on either way. Kept below the engine because the remote
// configuration checks too; the scheduler's class operation answers with it.
#include <string>

bool ZDMCheckOnBackgroundThread(const std::string& methodName);
