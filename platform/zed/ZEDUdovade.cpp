#include "platform/zed/ZEDUdovade.h"

#include "platform/dispatch/DispatchQueue.h"

ZEDUdovade::ZEDUdovade(std::string reachabilityHost)
    : reachabilityHost_(std::move(reachabilityHost)),
      session_(URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration())) {
}

std::shared_ptr<ZEDUdovade> ZEDUdovade::initWithReachabilityHost(std::string host) {
    return std::make_shared<ZEDUdovade>(std::move(host));
}

ZEDUdovade::~ZEDUdovade() {
    session_->finishTasksAndInvalidate();
}

void ZEDUdovade::postURL(const std::string& url, const Data& payload, std::shared_ptr<DispatchQueue> queue,
                         bool, CompletionHandler completionHandler) {
    URLRequest request;
    request.url = url;
    request.httpMethod = "POST";
    request.httpBody = payload;
    request.allHTTPHeaderFields["Content-Type"] = "application/x-protobuf";
    auto task = session_->dataTaskWithRequest(
        std::move(request), [queue = std::move(queue), handler = std::move(completionHandler)](
                                std::optional<Data> body, std::shared_ptr<const HTTPURLResponse> response,
                                std::optional<Error> error) {
            queue->async([handler, body = std::move(body), response = std::move(response),
                          error = std::move(error)] { handler(response, body, error); });
        });
    task->resume();
}
