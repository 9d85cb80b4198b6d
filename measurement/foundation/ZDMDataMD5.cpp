#include "measurement/foundation/ZDMDataMD5.h"

#include <limits>

#include "platform/security/CommonCrypto.h"

Data zdm_MD5Data(const Data& data) {
    Data digest(CC_MD5_DIGEST_LENGTH);
    // The one-shot call takes a 32-bit length; larger buffers go through the incremental form.
    if (data.size() <= std::numeric_limits<uint32_t>::max()) {
        CC_MD5(data.data(), static_cast<uint32_t>(data.size()), digest.data());
    } else {
        CC_MD5_CTX context;
        CC_MD5_Init(&context);
        CC_MD5_Update(&context, data.data(), data.size());
        CC_MD5_Final(digest.data(), &context);
    }
    return digest;
}

int64_t zdm_64LeastSignificantBits(const Data& data) {
    const size_t count = data.size() < 8 ? data.size() : 8;
    uint64_t bits = 0;
    for (size_t i = data.size() - count; i < data.size(); ++i) bits = bits << 8 | data[i];
    return static_cast<int64_t>(bits);
}

int64_t zdm_64LSBMD5(const Data& data) {
    return zdm_64LeastSignificantBits(zdm_MD5Data(data));
}
