#include "DudIzizoz/Internals/Model/DIZCSExtension.h"

#include <typeinfo>

namespace {
std::optional<Dictionary> unlessEmpty(Dictionary dictionary) {
    if (dictionary.empty()) return std::nullopt;
    return dictionary;
}

// A stored dictionary, or nullopt when the archive holds none; false when it holds something else.
bool decodeDictionary(const Archived& stored, std::optional<Dictionary>& out) {
    out.reset();
    if (stored.isNull()) return true;
    auto value = stored.toValue();
    if (!value || !value->asDictionary()) return false;
    out = *value->asDictionary();
    return true;
}
}  // namespace

std::optional<Dictionary> DIZCSExtension::serializeToDictionary() const {
    Dictionary dictionary;
    for (const auto& [key, text] : textFields()) DIZSetIfPresent(dictionary, key, *text);
    return unlessEmpty(std::move(dictionary));
}

bool DIZCSExtension::isEqual(const DIZCSExtension& other) const {
    if (typeid(*this) != typeid(other)) return false;
    auto mine = textFields(), theirs = other.textFields();
    for (size_t i = 0; i < mine.size(); ++i) {
        if (*mine[i].second != *theirs[i].second) return false;
    }
    return true;
}

void DIZCSExtension::encodeWithCoder(KeyedArchiver& coder) const {
    for (const auto& [key, text] : textFields()) coder.encodeObject(DIZArchived(*text), key);
}

bool DIZCSExtension::initWithCoder(KeyedUnarchiver& coder) {
    for (const auto& [key, text] : textFields()) *text = coder.decodeString(key);
    return true;
}

std::optional<Dictionary> DIZMetadataExtension::serializeToDictionary() const {
    return metadata_;
}

bool DIZMetadataExtension::isEqual(const DIZCSExtension& other) const {
    return DIZCSExtension::isEqual(other) &&
           metadata_ == static_cast<const DIZMetadataExtension&>(other).metadata_;
}

void DIZMetadataExtension::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(metadata_ ? Archived(Value(*metadata_)) : Archived());
}

bool DIZMetadataExtension::initWithCoder(KeyedUnarchiver& coder) {
    return decodeDictionary(coder.decodeObject(), metadata_);
}

std::optional<Dictionary> DIZProtocolExtension::serializeToDictionary() const {
    Dictionary dictionary;
    if (ticketKeys_)
        dictionary.set("ticketKeys", Value(Value::Array(ticketKeys_->begin(), ticketKeys_->end())));
    DIZSetIfPresent(dictionary, "devMake", devMake_);
    DIZSetIfPresent(dictionary, "devModel", devModel_);
    return unlessEmpty(std::move(dictionary));
}

bool DIZProtocolExtension::isEqual(const DIZCSExtension& other) const {
    return DIZCSExtension::isEqual(other) &&
           ticketKeys_ == static_cast<const DIZProtocolExtension&>(other).ticketKeys_;
}

void DIZProtocolExtension::encodeWithCoder(KeyedArchiver& coder) const {
    coder.encodeObject(
        ticketKeys_ ? Archived(Value(Value::Array(ticketKeys_->begin(), ticketKeys_->end()))) : Archived(),
        "ticketKeys");
    DIZCSExtension::encodeWithCoder(coder);
}

bool DIZProtocolExtension::initWithCoder(KeyedUnarchiver& coder) {
    ticketKeys_.reset();
    if (Archived stored = coder.decodeObject("ticketKeys"); !stored.isNull()) {
        auto value = stored.toValue();
        const auto* items = value ? value->asArray() : nullptr;
        if (!items) return false;
        std::vector<std::string> keys;
        for (const auto& item : *items) {
            if (!item.asString()) return false;
            keys.push_back(*item.asString());
        }
        ticketKeys_ = std::move(keys);
    }
    return DIZCSExtension::initWithCoder(coder);
}

std::optional<Dictionary> DIZSDKExtension::serializeToDictionary() const {
    Dictionary dictionary;
    DIZSetIfPresent(dictionary, "libVer", libVer_);
    DIZSetIfPresent(dictionary, "epoch", epoch_);
    if (seq_ != 0) dictionary.set("seq", Value(seq_));
    if (installId_) dictionary.set("installId", Value(installId_->uuidString()));
    return unlessEmpty(std::move(dictionary));
}

bool DIZSDKExtension::isEqual(const DIZCSExtension& other) const {
    const auto& sdk = static_cast<const DIZSDKExtension&>(other);
    return DIZCSExtension::isEqual(other) && seq_ == sdk.seq_ && installId_ == sdk.installId_;
}

void DIZSDKExtension::encodeWithCoder(KeyedArchiver& coder) const {
    DIZCSExtension::encodeWithCoder(coder);
    coder.encodeInt64(seq_, "seq");
    coder.encodeObject(installId_ ? Archived(installId_->uuidString()) : Archived(), "installId");
}

bool DIZSDKExtension::initWithCoder(KeyedUnarchiver& coder) {
    if (!DIZCSExtension::initWithCoder(coder)) return false;
    seq_ = coder.decodeInt64("seq");
    installId_.reset();
    if (auto text = coder.decodeString("installId")) {
        installId_ = UUID::fromString(*text);
        if (!installId_) return false;
    }
    return true;
}
