#pragma once
// A stand-in for the on-device conversion component, for the engine's tests: its clients query the
// recording server, and a match is whatever body the server answers.
#include <memory>
#include <optional>
#include <string>

#include "measurement/engine/ZDMPrivateSetMembershipClient.h"
#include "platform/foundation/Runtime.h"
#include "platform/network/testing/LocalHttpServer.h"

// Tagged with the kind of value it was made for.
class FakeClient : public ZDMPrivateSetMembershipClient {
  public:
    FakeClient(std::string url, int64_t inputType) : url_(std::move(url)), inputType_(inputType) {}
    std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) const override {
        return url_ + "?retry=" + std::to_string(retryCount);
    }
    int64_t inputType() const override { return inputType_; }
    std::optional<std::string> parsedPSMValueFromResponse(const Data& response) const override {
        return std::string(response.begin(), response.end());
    }

  private:
    std::string url_;
    int64_t inputType_;
};

class FakeClientClass : public ZDMPrivateSetMembershipClientClass {
  public:
    explicit FakeClientClass(std::string url) : url_(std::move(url)) {}
    std::shared_ptr<ZDMPrivateSetMembershipClient> initWithEmailAddress(const std::string&,
                                                                        const std::string&) const override {
        return std::make_shared<FakeClient>(url_, 1);
    }
    std::shared_ptr<ZDMPrivateSetMembershipClient> initWithPhoneNumber(const std::string&,
                                                                       const std::string&) const override {
        return std::make_shared<FakeClient>(url_, ZDMPrivateSetMembershipClient::kInputTypePhoneNumber);
    }

  private:
    std::string url_;
};

inline LocalHttpServer::Answer textAnswer(int status, std::string body) {
    LocalHttpServer::Answer answer;
    answer.status = status;
    answer.body = std::move(body);
    answer.contentType = "text/plain";
    return answer;
}

// Registers the component for as long as it lives.
class ScopedFakePSMClientClass {
  public:
    explicit ScopedFakePSMClientClass(const std::string& url) {
        Runtime::registerClass(ZDMPrivateSetMembershipClientClass::kClassName,
                               std::make_shared<FakeClientClass>(url));
    }
    ~ScopedFakePSMClientClass() { Runtime::unregisterClass(ZDMPrivateSetMembershipClientClass::kClassName); }
    ScopedFakePSMClientClass(const ScopedFakePSMClientClass&) = delete;
    ScopedFakePSMClientClass& operator=(const ScopedFakePSMClientClass&) = delete;
};
