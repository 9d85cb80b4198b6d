#include "DudIzizoz/Internals/Ingestion/DIZDidOzodozudaIngestion.h"

#include <set>

#include "DudIzizoz/Internals/HttpClient/DIZHttpUtil.h"
#include "DudIzizoz/Internals/Ingestion/DIZTicketCache.h"
#include "DudIzizoz/Internals/Model/DIZCoreSchemaLog.h"
#include "DudIzizoz/Internals/Model/DIZLogContainer.h"
#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "DudIzizoz/Internals/Util/DIZUtility.h"
#include "platform/foundation/JSON.h"

namespace {
constexpr const char* kApiKeyHeader = "apikey";
constexpr const char* kTicketsHeader = "Tickets";

std::string joined(const std::set<std::string>& tokens) {
    std::string text;
    for (const auto& token : tokens) text += (text.empty() ? "" : ",") + token;
    return text;
}

// Ticket key -> ticket, for the keys of the batch that the cache holds; a later log wins.
Dictionary ticketsOf(const DIZLogContainer& container) {
    Dictionary tickets;
    const auto cache = DIZTicketCache::sharedInstance();
    for (const auto& log : container.logs()) {
        const auto* coreSchemaLog = dynamic_cast<const DIZCoreSchemaLog*>(log.get());
        if (!coreSchemaLog || !coreSchemaLog->ext() || !coreSchemaLog->ext()->protocolExt()) continue;
        const auto& keys = coreSchemaLog->ext()->protocolExt()->ticketKeys();
        if (!keys) continue;
        for (const auto& key : *keys) {
            if (auto ticket = cache->ticketFor(key)) tickets.set(key, Value(*ticket));
        }
    }
    return tickets;
}
}  // namespace

std::shared_ptr<DIZDidOzodozudaIngestion> DIZDidOzodozudaIngestion::make(
    std::shared_ptr<DIZHttpClientProtocol> httpClient, const std::string& baseUrl) {
    HTTPHeaders headers = {{"Content-Type", "application/x-json-stream; charset=utf-8"},
                           {"Client-Version", "DIZ-iOS-ObjectiveC-no-" + DIZUtility::sdkVersion() + "-no"}};
    return attachedToClient(std::shared_ptr<DIZDidOzodozudaIngestion>(new DIZDidOzodozudaIngestion(
        std::move(httpClient), baseUrl, std::string("/DidOzodozuda") + "/" + "1.0", std::move(headers), {},
        kDefaultRetryIntervals, kMaxNumberOfConnections)));
}

void DIZDidOzodozudaIngestion::sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                                         DIZSendAsyncCompletionHandler completionHandler) {
    if (refuseInvalidContainer(data, completionHandler)) return;
    const std::string batchId = data->batchId().value_or("");
    DIZHttpIngestion::sendAsync(data, [batchId, completionHandler = std::move(completionHandler)](
                                          const std::string&, std::shared_ptr<const HTTPURLResponse> response,
                                          std::optional<Data> body, std::optional<Error> error) {
        if (completionHandler)
            completionHandler(batchId, std::move(response), std::move(body), std::move(error));
    });
}

HTTPHeaders DIZDidOzodozudaIngestion::getHeadersWithData(const std::shared_ptr<DIZLogContainer>& data,
                                                         const std::optional<std::string>&) {
    HTTPHeaders headers = httpHeaders();
    std::set<std::string> tokens;
    if (data) {
        for (const auto& log : data->logs()) {
            if (auto logTokens = log->transmissionTargetTokens())
                tokens.insert(logTokens->begin(), logTokens->end());
        }
    }
    headers[kApiKeyHeader] = joined(tokens);
    headers["Upload-Time"] = std::to_string(static_cast<long long>(DIZUtility::nowInMilliseconds()));
    if (data) {
        if (const Dictionary tickets = ticketsOf(*data); !tickets.empty())
            headers[kTicketsHeader] = json::write(Value(tickets), json::Style::Compact);
    }
    return headers;
}

std::optional<Data> DIZDidOzodozudaIngestion::getPayloadWithData(
    const std::shared_ptr<DIZLogContainer>& data) {
    if (!data) return std::nullopt;
    std::string lines;
    for (const auto& log : data->logs()) lines += log->serializeLogWithPrettyPrinting(false) + "\n";
    return dataFromString(lines);
}

std::optional<std::string> DIZDidOzodozudaIngestion::obfuscateResponsePayload(
    const std::optional<std::string>& payload) const {
    return DIZUtility::obfuscateTokenValues(payload);
}

std::string DIZDidOzodozudaIngestion::obfuscateTargetTokens(const std::string& tokens) {
    std::string masked;
    size_t start = 0;
    while (true) {
        const size_t comma = tokens.find(',', start);
        masked += DIZHttpUtil::hideSecret(tokens.substr(start, comma - start));
        if (comma == std::string::npos) return masked;
        masked += ",";
        start = comma + 1;
    }
}

std::string DIZDidOzodozudaIngestion::obfuscateTickets(const std::string& tickets) {
    return DIZUtility::obfuscateAfterColons(tickets);
}

void DIZDidOzodozudaIngestion::willSendHTTPRequestToURL(const std::string& url, const HTTPHeaders& headers) {
    if (DIZLogger::currentLogLevel() > DIZLogLevel::Verbose) return;
    std::string lines;
    for (const auto& [name, value] : headers) {
        if (!lines.empty()) lines += ", ";
        std::string shown = value;
        if (name == kApiKeyHeader) shown = obfuscateTargetTokens(value);
        if (name == kTicketsHeader) shown = obfuscateTickets(value);
        lines += name + " = " + shown;
    }
    DIZLogVerbose(kDIZLogTag, "URL: %@", url);
    DIZLogVerbose(kDIZLogTag, "Headers: %@", lines);
}
