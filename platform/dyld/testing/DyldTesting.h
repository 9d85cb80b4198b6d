#pragma once
// Test controls of the loader stand-in.
#include <cstdint>

namespace DyldTesting {
// Lists an image whose header the test placed in memory, and reports it to the add callbacks as if
// the loader had just loaded it. The header must stay in place until it is removed.
void addImage(const void* header, const char* name, intptr_t slide);
// Unlists an image added above and reports it to the remove callbacks.
void removeImage(const void* header);
}  // namespace DyldTesting
