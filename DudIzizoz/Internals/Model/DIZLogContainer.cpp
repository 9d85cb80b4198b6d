#include "DudIzizoz/Internals/Model/DIZLogContainer.h"

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"
#include "platform/foundation/JSON.h"

std::optional<std::string> DIZLogContainer::serializeLogWithPrettyPrinting(bool prettyPrint) const {
    Value::Array logs;
    for (const auto& log : logs_) {
        if (!log) continue;
        if (auto dictionary = log->serializeToDictionary()) logs.emplace_back(std::move(*dictionary));
    }
    // The writer never escapes "/", so paths and URLs inside logs keep their slashes.
    return json::write(Value(Dictionary{{"logs", Value(std::move(logs))}}),
                       prettyPrint ? json::Style::Pretty : json::Style::Compact);
}

bool DIZLogContainer::isValid() const {
    if (logs_.empty()) {
        DIZLogVerbose(kDIZLogTag, "%@: there are no logs in container.", "DIZLogContainer");
        return false;
    }
    for (const auto& log : logs_) {
        if (!log || !log->isValid()) return false;
    }
    return true;
}
