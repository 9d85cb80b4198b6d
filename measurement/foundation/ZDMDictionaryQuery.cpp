#include "measurement/foundation/ZDMDictionaryQuery.h"

#include <vector>

#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMStringAdditions.h"
#include "platform/foundation/URL.h"

std::string zdm_queryString(const Dictionary& dictionary) {
    std::string query;
    for (const auto& [key, value] : dictionary) {
        if (!query.empty()) query += '&';
        query += URLQueryPercentEncoded(key) + "=" + URLQueryPercentEncoded(ZDMDescription(value));
    }
    return query;
}

Dictionary zdm_dictionaryWithHttpArgumentsString(std::string_view text) {
    std::vector<std::string_view> pieces;
    for (size_t start = 0;;) {
        const size_t end = text.find('&', start);
        pieces.push_back(
            text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    Dictionary arguments;
    // From last to first, so that the first occurrence of a key is the one stored last.
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        if (piece->empty()) continue;
        const size_t equals = piece->find('=');
        const std::string_view key = piece->substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? "" : piece->substr(equals + 1);
        arguments.set(zdm_stringByUnescapingFromURLArgument(key).value_or(""),
                      zdm_stringByUnescapingFromURLArgument(value).value_or(""));
    }
    return arguments;
}
