#pragma once
// Helpers of bundling shared with the upload path.
#include <cstdint>

class ZDMDatabase;

// Deletes the raw rows up to `lastRowID` and then the metadata row of `fingerprint` when no raw row
// uses it any more. Runs inside the caller's transaction; NO (logged) lets it roll back.
bool ZDMDeleteProcessedRawEvents(ZDMDatabase& database, int64_t lastRowID, int64_t fingerprint);
