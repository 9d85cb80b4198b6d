#pragma once
// The raw events a measurement database file holds, in the order they were stored: each one's name
// and origin, read through a connection of the reader's own and decoded from the stored bytes.
#include <sqlite3.h>

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

// The stored event's parameters by name: texts as they are, integers in decimal.
inline std::map<std::string, std::string> storedParameters(const Data& data) {
    constexpr int32_t kParams = 0, kParamName = 0, kParamString = 1, kParamInt64 = 2;
    std::map<std::string, std::string> parameters;
    const auto proto = ZDMPBEvent::initWithBuffer(data);
    const auto params =
        proto ? ZDMPBGetArray(proto.get(), kParams, &ZDMPBEventParam::messageClass()) : std::nullopt;
    for (const Value& element : params.value_or(Value::Array())) {
        const auto param = element.objectAs<ZDMPBEventParam>();
        if (!param) continue;
        const auto text = ZDMPBGetString(param.get(), kParamString);
        parameters[ZDMPBGetString(param.get(), kParamName).value_or("")] =
            text ? *text : std::to_string(ZDMPBGetInt64(param.get(), kParamInt64));
    }
    return parameters;
}

// The origin travels as the stored event's "_o" parameter; "" when there is none.
inline std::string storedOrigin(const Data& data) {
    const auto parameters = storedParameters(data);
    const auto origin = parameters.find("_o");
    return origin == parameters.end() ? "" : origin->second;
}

struct StoredRawEvent {
    std::string name;
    std::string origin;
    bool operator==(const StoredRawEvent&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const StoredRawEvent& event) {
        return out << event.name << "(" << event.origin << ")";
    }
};

// Each stored raw event's name and bytes, in the order they were stored.
inline std::vector<std::pair<std::string, Data>> storedRawEventRows(const std::string& databasePath) {
    std::vector<std::pair<std::string, Data>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(databasePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, data FROM raw_events ORDER BY rowid", -1, &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 1));
        rows.emplace_back(name ? name : "", Data(bytes, bytes + sqlite3_column_bytes(statement, 1)));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

inline std::vector<StoredRawEvent> storedRawEvents(const std::string& databasePath) {
    std::vector<StoredRawEvent> events;
    for (const auto& [name, data] : storedRawEventRows(databasePath))
        events.push_back({name, storedOrigin(data)});
    return events;
}
