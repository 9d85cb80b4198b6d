#include <openssl/rand.h>

#include <climits>

#include "platform/security/SecRandom.h"

int SecRandomCopyBytes(SecRandomRef, size_t count, void* bytes) {
    if (!bytes && count) return errSecParam;
    auto* out = static_cast<unsigned char*>(bytes);
    while (count > 0) {
        const int chunk = count > INT_MAX ? INT_MAX : static_cast<int>(count);
        if (RAND_bytes(out, chunk) != 1) return errSecIO;
        out += chunk;
        count -= static_cast<size_t>(chunk);
    }
    return errSecSuccess;
}
