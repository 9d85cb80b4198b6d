#pragma once
// What a channel unit sends its batches through. `sendAsync` answers on any thread with (call id,
// HTTP response or null, response body or nothing, error or nothing), once the HTTP client has a
// final outcome, or at once with an error for a send it refuses; the Dud Izizoz and Did Ozodozuda
// ingestions answer with the container's batch id as the call id. A unit keeps logs for an
// ingestion only while it `isReadyToSend`, and sends only while it `isEnabled`.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DudIzizoz/Internals/Util/DIZEnable.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/network/URLSession.h"

class DIZLogContainer;

using DIZSendAsyncCompletionHandler =
    std::function<void(const std::string& callId, std::shared_ptr<const HTTPURLResponse> response,
                       std::optional<Data> data, std::optional<Error> error)>;

class DIZIngestionProtocol : public DIZEnable {
  public:
    virtual void sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                           DIZSendAsyncCompletionHandler completionHandler) = 0;
    virtual void sendAsync(const std::shared_ptr<DIZLogContainer>& data,
                           const std::optional<std::string>& eTag,
                           DIZSendAsyncCompletionHandler completionHandler) = 0;
    virtual bool isReadyToSend() const = 0;
    virtual bool isEnabled() const = 0;
};
