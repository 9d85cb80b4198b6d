#include "measurement/foundation/ZDMDebugDescription.h"

#include <algorithm>
#include <vector>

#include "measurement/foundation/ZDMDescription.h"
#include "measurement/foundation/ZDMEventVocabulary.h"
#include "measurement/foundation/ZDMMonitor.h"
#include "measurement/foundation/ZDMNameMaps.h"
#include "measurement/foundation/ZDMValue.h"
#include "platform/foundation/Runtime.h"
#include "platform/foundation/UnicodeText.h"

namespace {
constexpr const char* kDebugViewClassName = "VUZArezivodo";
constexpr const char* kNestedIndent = "    ";

bool isDebugModeEnabled() {
    return ZDMMonitor::sharedMonitor()->isDebugModeEnabled();
}

// An array held plainly or inside a measurement value.
const Value::Array* arrayOf(const Value& value) {
    if (auto measurement = value.objectAs<ZDMValue>()) return measurement->arrayValue();
    return value.asArray();
}

std::string errorCodeText(const Value& value) {
    auto measurement = value.objectAs<ZDMValue>();
    if (!measurement || !measurement->isInt64()) return ZDMDescription(value);
    const int64_t code = measurement->int64Value();
    const auto& names = ZDMErrorCodeNameMap();
    const auto name = names.find(code);
    if (name == names.end()) return std::to_string(code);
    return name->second + " (" + std::to_string(code) + ")";
}

std::string valueText(const std::string& key, const Value& value) {
    if (const Value::Array* array = arrayOf(value)) return ZDMArrayDescriptionForLog(Value(*array));
    if (key == "_err") return errorCodeText(value);
    return ZDMDescription(value);
}
}  // namespace

std::string ZDMEventNameForLog(const Value& name) {
    return ZDMNameForLog(name, ZDMPublicToInternalEventNameMap());
}

std::string ZDMParameterNameForLog(const Value& name) {
    return ZDMNameForLog(name, ZDMPublicToInternalParameterNameMap());
}

std::string ZDMUserPropertyNameForLog(const Value& name) {
    if (const std::string* text = name.asString(); text && text->starts_with("_exp_"))
        return "experiment_id (" + *text + ")";
    return ZDMNameForLog(name, ZDMPublicToInternalUserPropertyNameMap());
}

std::string ZDMNameForLog(const Value& name, const Dictionary& publicToInternal) {
    const std::string* text = name.asString();
    if (!text) return ZDMDescription(name);
    if (text->empty() || publicToInternal.empty() || ZDMIsPublicName(name)) return *text;
    if (!isDebugModeEnabled() || !Runtime::classExists(kDebugViewClassName)) return *text;
    const std::string* found = nullptr;
    for (const auto& [publicName, internalName] : publicToInternal) {
        if (internalName != Value(*text)) continue;
        found = &publicName;
        if (!publicName.starts_with("zudedaro_")) break;
    }
    return found ? *found + " (" + *text + ")" : *text;
}

std::string ZDMParametersDescriptionForLog(const Value& parameters) {
    return ZDMDictionaryDescriptionForLog(parameters, "");
}

std::string ZDMDictionaryDescriptionForLog(const Value& dictionary, const std::string& indent) {
    const Dictionary* entries = dictionary.asDictionary();
    if (!entries || !isDebugModeEnabled()) return ZDMDescription(dictionary);
    std::vector<std::string> lines;
    for (const auto& [key, value] : *entries)
        lines.push_back(indent + kNestedIndent + ZDMParameterNameForLog(Value(key)) + " = " +
                        valueText(key, value) + ";\n");
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& left, const std::string& right) {
        return lowercaseString(left) < lowercaseString(right);
    });
    std::string text = indent + "{\n";
    for (const auto& line : lines) text += line;
    return text + indent + "}";
}

std::string ZDMArrayDescriptionForLog(const Value& array) {
    const Value::Array* elements = array.asArray();
    if (!elements || !isDebugModeEnabled()) return ZDMDescription(array);
    std::string text = "[\n";
    for (size_t index = 0; index < elements->size(); ++index) {
        if (index > 0) text += ",\n";
        text += ZDMDictionaryDescriptionForLog((*elements)[index], kNestedIndent);
    }
    return text + "\n" + kNestedIndent + "]";
}
