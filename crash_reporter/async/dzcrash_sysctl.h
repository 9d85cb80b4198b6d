#pragma once
// sysctl reads for ordinary code (they allocate; never at crash time).
#include <cstdint>

// The value of `name` as a NUL-terminated string allocated with malloc (the caller frees it), or
// null with errno telling why. A value that grows between asking its size and reading it is asked
// for again.
char* dzcrash_sysctl_copy_string(const char* name);
// Reads a 4-byte integer; false (errno set) when the value cannot be read or is not 4 bytes.
bool dzcrash_sysctl_read_int(const char* name, int32_t* out);
