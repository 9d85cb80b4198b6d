#pragma once
// MD5 digests of bytes and the 64-bit fingerprints taken from them (metadata rows, de-duplication,
// the upload checksum).
#include <cstdint>

#include "platform/foundation/Data.h"

// The 16-byte digest of all bytes.
Data zdm_MD5Data(const Data& data);
// The last min(length, 8) bytes read big-endian into the low-order end; 0 for no bytes.
int64_t zdm_64LeastSignificantBits(const Data& data);
// Digest bytes 8 to 15 read big-endian.
int64_t zdm_64LSBMD5(const Data& data);
