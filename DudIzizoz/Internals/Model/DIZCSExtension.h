#pragma once
// The standard extensions of a Core Schema log. Most are a few optional texts: their JSON holds the
// texts that are present, and an extension with none present writes nothing at all.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DudIzizoz/Internals/Model/DIZModelFields.h"
#include "DudIzizoz/Internals/Model/DIZSerializableObject.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/UUID.h"

class DIZCSExtension : public Codable, public DIZSerializableObject, public DIZModel {
  public:
    using Text = std::optional<std::string>;

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isValid() const override { return true; }
    // Same class and equal fields.
    virtual bool isEqual(const DIZCSExtension& other) const;

    std::vector<std::string> archiveClassHierarchy() const override {
        return {archiveClassName(), "NSObject"};
    }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    using TextFields = std::vector<std::pair<const char*, Text*>>;
    // The extension's texts with their JSON and archive keys, in order.
    virtual TextFields textFields() = 0;
    TextFields textFields() const { return const_cast<DIZCSExtension*>(this)->textFields(); }
};

class DIZMetadataExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(std::optional<Dictionary>, metadata, Metadata)

    // The metadata's entries; none without metadata.
    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZCSExtension& other) const override;
    std::string archiveClassName() const override { return "DIZMetadataExtension"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    TextFields textFields() override { return {}; }

  private:
    std::optional<Dictionary> metadata_;
};

class DIZProtocolExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(std::optional<std::vector<std::string>>, ticketKeys, TicketKeys)
    DIZ_PROPERTY(Text, devMake, DevMake)
    DIZ_PROPERTY(Text, devModel, DevModel)

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZCSExtension& other) const override;
    std::string archiveClassName() const override { return "DIZProtocolExtension"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    TextFields textFields() override { return {{"devMake", &devMake_}, {"devModel", &devModel_}}; }

  private:
    std::optional<std::vector<std::string>> ticketKeys_;
    Text devMake_, devModel_;
};

class DIZUserExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(Text, localId, LocalId)
    DIZ_PROPERTY(Text, locale, Locale)
    std::string archiveClassName() const override { return "DIZUserExtension"; }

  protected:
    TextFields textFields() override { return {{"localId", &localId_}, {"locale", &locale_}}; }

  private:
    Text localId_, locale_;
};

class DIZDeviceExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(Text, localId, LocalId)
    std::string archiveClassName() const override { return "DIZDeviceExtension"; }

  protected:
    TextFields textFields() override { return {{"localId", &localId_}}; }

  private:
    Text localId_;
};

class DIZOSExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(Text, name, Name)
    DIZ_PROPERTY(Text, ver, Ver)
    std::string archiveClassName() const override { return "DIZOSExtension"; }

  protected:
    TextFields textFields() override { return {{"name", &name_}, {"ver", &ver_}}; }

  private:
    Text name_, ver_;
};

class DIZAppExtension : public DIZCSExtension {
  public:
    // Written as "id".
    DIZ_PROPERTY(Text, appId, AppId)
    DIZ_PROPERTY(Text, ver, Ver)
    DIZ_PROPERTY(Text, name, Name)
    DIZ_PROPERTY(Text, locale, Locale)
    DIZ_PROPERTY(Text, userId, UserId)
    std::string archiveClassName() const override { return "DIZAppExtension"; }

  protected:
    TextFields textFields() override {
        return {
            {"id", &appId_}, {"ver", &ver_}, {"name", &name_}, {"locale", &locale_}, {"userId", &userId_}};
    }

  private:
    Text appId_, ver_, name_, locale_, userId_;
};

class DIZNetExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(Text, provider, Provider)
    std::string archiveClassName() const override { return "DIZNetExtension"; }

  protected:
    TextFields textFields() override { return {{"provider", &provider_}}; }

  private:
    Text provider_;
};

class DIZSDKExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(Text, libVer, LibVer)
    DIZ_PROPERTY(Text, epoch, Epoch)
    // Written only when not zero.
    DIZ_PROPERTY(int64_t, seq, Seq)
    // Written as the upper-case canonical text.
    DIZ_PROPERTY(std::optional<UUID>, installId, InstallId)

    std::optional<Dictionary> serializeToDictionary() const override;
    bool isEqual(const DIZCSExtension& other) const override;
    std::string archiveClassName() const override { return "DIZSDKExtension"; }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    bool initWithCoder(KeyedUnarchiver& coder) override;

  protected:
    TextFields textFields() override { return {{"libVer", &libVer_}, {"epoch", &epoch_}}; }

  private:
    Text libVer_, epoch_;
    int64_t seq_ = 0;
    std::optional<UUID> installId_;
};

class DIZLocExtension : public DIZCSExtension {
  public:
    DIZ_PROPERTY(Text, tz, Tz)
    std::string archiveClassName() const override { return "DIZLocExtension"; }

  protected:
    TextFields textFields() override { return {{"tz", &tz_}}; }

  private:
    Text tz_;
};
