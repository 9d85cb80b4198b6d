#pragma once
// The raw events a measurement database file holds, in the order they were stored: each one's name
// and origin, read through a connection of the reader's own and decoded from the stored bytes.
#include <sqlite3.h>

#include <ostream>
#include <string>
#include <vector>

#include "measurement/wire/ZDMPBAccessors.h"
#include "measurement/wire/ZDMPBUploadMessages.h"

// The origin travels as the stored event's "_o" parameter; "" when there is none.
inline std::string storedOrigin(const Data& data) {
    constexpr int32_t kParams = 0, kParamName = 0, kParamString = 1;
    const auto proto = ZDMPBEvent::initWithBuffer(data);
    const auto params =
        proto ? ZDMPBGetArray(proto.get(), kParams, &ZDMPBEventParam::messageClass()) : std::nullopt;
    for (const Value& element : params.value_or(Value::Array())) {
        const auto param = element.objectAs<ZDMPBEventParam>();
        if (param && ZDMPBGetString(param.get(), kParamName) == "_o")
            return ZDMPBGetString(param.get(), kParamString).value_or("");
    }
    return "";
}

struct StoredRawEvent {
    std::string name;
    std::string origin;
    bool operator==(const StoredRawEvent&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const StoredRawEvent& event) {
        return out << event.name << "(" << event.origin << ")";
    }
};

inline std::vector<StoredRawEvent> storedRawEvents(const std::string& databasePath) {
    std::vector<StoredRawEvent> events;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(databasePath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return events;
    }
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, "SELECT name, data FROM raw_events ORDER BY rowid", -1, &statement, nullptr);
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 1));
        const Data data(bytes, bytes + sqlite3_column_bytes(statement, 1));
        events.push_back({name ? name : "", storedOrigin(data)});
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return events;
}
