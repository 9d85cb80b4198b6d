#pragma once
// Functions the host gives programs: "require" with its module provider and cache, the runtime's
// own "internal.platform", host object and key-value modules, and the logging functions. Each is a
// function value with no parameters and no body whose call the host answers.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/interpreter/ZDMPFunctionValue.h"
#include "platform/foundation/Value.h"

class ZDMMonitor;

// Makes the module of one name on its first "require".
using ZDMPModuleCreator = std::function<ZDMPValueRef()>;

class ZDMPDynamicProvider {
  public:
    // Replaces any earlier creator of that name.
    void setModuleCreator(ZDMPModuleCreator creator, const std::u16string& name);
    // The creator's module; undefined without failure when no creator has the name; null with code
    // 15 when the creator makes nothing.
    ZDMPValueRef moduleForName(const std::u16string& name, Error* error) const;

  private:
    std::map<std::u16string, ZDMPModuleCreator> creators_;
};

// Base of the natives: named, no parameters, no body, a root scope of its own.
class ZDMPNativeFunction : public ZDMPFunctionValue {
  public:
    explicit ZDMPNativeFunction(std::u16string name);
};

class ZDMPRequire final : public ZDMPNativeFunction {
  public:
    explicit ZDMPRequire(std::shared_ptr<ZDMPDynamicProvider> provider);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                     Error* error) override;

    void collectReferences(ZDMPReferences& references) const override;
    void releaseReferences() override;

  private:
    std::shared_ptr<ZDMPDynamicProvider> provider_;
    std::map<std::u16string, ZDMPValueRef> modules_;
};

// "internal.platform": undefined when called; its "getVersion" gives the runtime version.
class ZDMPRuntimePlatform final : public ZDMPNativeFunction {
  public:
    ZDMPRuntimePlatform();
    ZDMPValueRef invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) override;
};

class ZDMPFunctionGetVersion final : public ZDMPNativeFunction {
  public:
    ZDMPFunctionGetVersion() : ZDMPNativeFunction(u"getVersion") {}
    ZDMPValueRef invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) override;
};

// Converts what its block gives afresh on every call; the arguments are not evaluated.
class ZDMPObjectProvider final : public ZDMPNativeFunction {
  public:
    ZDMPObjectProvider(std::u16string name, std::function<Value()> block);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error* error) override;

  private:
    std::function<Value()> block_;
};

using ZDMPGetValueBlock = std::function<std::optional<std::u16string>(const std::u16string& key)>;

// Called itself, a function with an empty body; its "getValue"(key, default) answers through the block.
class ZDMPKeyValueStore final : public ZDMPNativeFunction {
  public:
    ZDMPKeyValueStore(std::u16string name, ZDMPGetValueBlock block);
};

class ZDMPKeyValueStoreGetValue final : public ZDMPNativeFunction {
  public:
    explicit ZDMPKeyValueStoreGetValue(ZDMPGetValueBlock block);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                     Error* error) override;

  private:
    ZDMPGetValueBlock block_;
};

class ZDMPLoggerDelegate {
  public:
    virtual ~ZDMPLoggerDelegate() = default;
    virtual void logWithLevel(int64_t level, const std::u16string& message,
                              const std::vector<std::u16string>& context, bool silent, bool monitored) = 0;
};

// Maps program levels to the monitor's and logs with message code 24005.
class ZDMPixieLogger final : public ZDMPLoggerDelegate {
  public:
    static constexpr int64_t kMessageCode = 24005;
    // Without a monitor, the library's.
    explicit ZDMPixieLogger(std::shared_ptr<ZDMMonitor> monitor = nullptr);
    static int64_t monitorLevel(int64_t level, bool silent, bool monitored);
    void logWithLevel(int64_t level, const std::u16string& message,
                      const std::vector<std::u16string>& context, bool silent, bool monitored) override;

  private:
    std::shared_ptr<ZDMMonitor> monitor_;
};

class ZDMPFunctionLog final : public ZDMPNativeFunction {
  public:
    ZDMPFunctionLog(std::shared_ptr<ZDMPLoggerDelegate> logger, bool silent, bool monitored);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList& arguments, const ZDMPScopeRef& scope,
                                     Error* error) override;

  private:
    std::shared_ptr<ZDMPLoggerDelegate> logger_;
    bool silent_;
    bool monitored_;
};

// "silent" and "unmonitored" give themselves when called, so that both x.silent.log(...) and
// x.silent().log(...) reach their "log".
class ZDMPFunctionLogVariant : public ZDMPNativeFunction {
  public:
    ZDMPFunctionLogVariant(std::u16string name, const std::shared_ptr<ZDMPLoggerDelegate>& logger,
                           bool silent, bool monitored);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) override;
};

class ZDMPFunctionLogSilent final : public ZDMPFunctionLogVariant {
  public:
    explicit ZDMPFunctionLogSilent(const std::shared_ptr<ZDMPLoggerDelegate>& logger)
        : ZDMPFunctionLogVariant(u"silent", logger, true, true) {}
};

class ZDMPFunctionLogUnmonitored final : public ZDMPFunctionLogVariant {
  public:
    explicit ZDMPFunctionLogUnmonitored(const std::shared_ptr<ZDMPLoggerDelegate>& logger)
        : ZDMPFunctionLogVariant(u"unmonitored", logger, false, false) {}
};

// "internal.logger": undefined when called; "log", "silent" and "unmonitored" over one logger.
class ZDMPMessageLogger final : public ZDMPNativeFunction {
  public:
    explicit ZDMPMessageLogger(const std::shared_ptr<ZDMPLoggerDelegate>& logger);
    ZDMPValueRef invokeWithArguments(const ZDMPValueList&, const ZDMPScopeRef&, Error*) override;
};
