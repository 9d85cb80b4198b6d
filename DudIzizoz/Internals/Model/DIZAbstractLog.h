#pragma once
// The base of every record the client sends. A log checks itself, writes its JSON dictionary,
// archives itself by key (the log store keeps logs as archives) and, for the Did Ozodozuda road,
// turns itself into one Core Schema log per transmission target token.
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZDevice.h"
#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"

class DIZCoreSchemaLog;

// Marks logs whose session id the analytics session tracker leaves as their creator set it.
class DIZNoAutoAssignSessionIdLog {
  public:
    virtual ~DIZNoAutoAssignSessionIdLog() = default;
};

class DIZAbstractLog : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    using Text = std::optional<std::string>;
    using Tokens = std::set<std::string>;

    DIZ_PROPERTY(Text, type, Type)
    DIZ_PROPERTY(std::optional<Date>, timestamp, Timestamp)
    DIZ_PROPERTY(Text, sid, Sid)
    DIZ_PROPERTY(Text, distributionGroupId, DistributionGroupId)
    DIZ_PROPERTY(Text, userId, UserId)
    DIZ_PROPERTY(std::shared_ptr<DIZDevice>, device, Device)
    // Whatever the producer attaches (the analytics service: the sending target); compared by
    // identity, never written out.
    DIZ_PROPERTY(std::shared_ptr<void>, tag, Tag)

    // The tokens of the targets this log is to reach; never written out. A reader always sees a
    // whole set, even while another thread adds a token.
    std::optional<Tokens> transmissionTargetTokens() const;
    void setTransmissionTargetTokens(std::optional<Tokens> tokens);
    void addTransmissionTargetToken(const std::string& token);

    std::optional<Dictionary> serializeToDictionary() const override;
    // The JSON text of the dictionary, indented when `prettyPrint`.
    std::string serializeLogWithPrettyPrinting(bool prettyPrint) const;
    // type, timestamp and a valid device must be present.
    bool isValid() const override;
    // Same class (or a subclass), then tag, type, timestamp, sid, distributionGroupId, userId, device.
    virtual bool isEqual(const DIZAbstractLog& other) const;

    // One Core Schema log per token; nullopt when that makes none.
    std::optional<std::vector<std::shared_ptr<DIZCoreSchemaLog>>> toCoreSchemaLogsWithFlags(
        int64_t flags) const;
    virtual std::shared_ptr<DIZCoreSchemaLog> toCoreSchemaLogForTargetToken(const std::string& token,
                                                                            int64_t flags) const;

    // "Version 13.2.1 (Build 22D68)"; nullopt when both are empty.
    static Text combineOsVersion(const Text& version, const Text& build);
    // "name-version"; nullopt unless both are given.
    static Text combineSDKLibVer(const Text& name, const Text& version);
    // Minutes east of UTC as "+05:45" or "-03:30".
    static std::string convertTimeZoneOffsetToISO8601(int64_t minutes);

    std::string archiveClassName() const override { return "DIZAbstractLog"; }
    std::vector<std::string> archiveClassHierarchy() const override { return {"DIZAbstractLog", "NSObject"}; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    Text type_;
    std::optional<Date> timestamp_;
    Text sid_, distributionGroupId_, userId_;
    std::shared_ptr<DIZDevice> device_;
    std::shared_ptr<void> tag_;
    mutable std::recursive_mutex tokensLock_;
    std::shared_ptr<const Tokens> transmissionTargetTokens_;
};

// The log of the design's log protocol: every log of the client is a DIZAbstractLog.
using DIZLog = DIZAbstractLog;
