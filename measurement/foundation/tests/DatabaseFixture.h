#pragma once
// A measurement database in a private home on the manual clock, with the shared recording monitor,
// and a plain sqlite connection of the test's own to look at or prepare the file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "measurement/foundation/ZDMDatabase.h"
#include "measurement/foundation/ZDMFileUtil.h"
#include "measurement/foundation/tests/MonitorFixture.h"

inline constexpr const char* kDatabaseName = "zizoda-measurement.sql";

class FixedMidnight : public ZDMDatabase::PersistedConfig {
  public:
    explicit FixedMidnight(double offset) : offset_(offset) {}
    double midnightOffset() override { return offset_; }
    double lastDeleteStaleBundlesTimestamp() override { return lastDelete_; }
    void setLastDeleteStaleBundlesTimestamp(double timestamp) override { lastDelete_ = timestamp; }

  private:
    double offset_;
    double lastDelete_ = 0;
};

// A plain connection of the test's own to the database file, to look at or prepare it.
class RawFile {
  public:
    explicit RawFile(const std::string& path) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
    }
    ~RawFile() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
            << sql << ": " << (message ? message : "");
        sqlite3_free(message);
    }
    // The rows of a query, each as its columns' texts joined by "|" ("NULL" for NULL).
    std::vector<std::string> rows(const std::string& sql) {
        std::vector<std::string> out;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
        while (statement && sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int column = 0; column < sqlite3_column_count(statement); ++column) {
                const auto* text = sqlite3_column_text(statement, column);
                row +=
                    (column ? "|" : "") + (text ? std::string(reinterpret_cast<const char*>(text)) : "NULL");
            }
            out.push_back(row);
        }
        sqlite3_finalize(statement);
        return out;
    }
    // The first column of the first row as bytes.
    std::optional<Data> blob(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        std::optional<Data> out;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement, 0));
            out = Data(bytes, bytes + sqlite3_column_bytes(statement, 0));
        }
        sqlite3_finalize(statement);
        return out;
    }
    // Each table's columns rebuilt from PRAGMA table_info: name, type, NOT NULL and the key.
    std::vector<std::string> schema() {
        std::vector<std::string> out;
        for (const std::string& table :
             rows("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
            const auto columns = rows("SELECT name, type, \"notnull\", pk FROM pragma_table_info('" + table +
                                      "') ORDER BY cid");
            const auto keys =
                rows("SELECT name FROM pragma_table_info('" + table + "') WHERE pk > 0 ORDER BY pk");
            std::string line = table + ": ";
            for (size_t i = 0; i < columns.size(); ++i) {
                const std::vector<std::string> f = split(columns[i]);
                line += (i ? ", " : "") + f[0] + " " + f[1] + (f[2] == "1" ? " NOT NULL" : "") +
                        (f[3] != "0" && keys.size() == 1 ? " PRIMARY KEY" : "");
            }
            if (keys.size() > 1) line += ", PRIMARY KEY (" + keys[0] + ", " + keys[1] + ")";
            out.push_back(line);
        }
        return out;
    }

  private:
    static std::vector<std::string> split(const std::string& row) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (size_t bar; (bar = row.find('|', start)) != std::string::npos; start = bar + 1)
            fields.push_back(row.substr(start, bar - start));
        fields.push_back(row.substr(start));
        return fields;
    }

    sqlite3* db_ = nullptr;
};

class Database : public SharedMonitorFixture {
  protected:
    // The configuration's and the database's work belongs off the main thread, where its check stays
    // silent.
    template <class Work>
    static auto offMain(Work work) {
        decltype(work()) result{};
        std::thread worker([&] { result = work(); });
        worker.join();
        return result;
    }
    std::string path() const { return ZDMMeasurementSupportFilePath(kDatabaseName); }
    std::unique_ptr<ZDMDatabase> open() {
        Error error;
        auto database = ZDMDatabase::initWithDatabaseName(kDatabaseName, midnight_, &error);
        EXPECT_TRUE(database) << error.description;
        return database;
    }
    std::vector<std::string> messagesOf(int64_t code) {
        flush(*monitor_);
        std::vector<std::string> out;
        for (const auto& line : logger_->lines())
            if (line.code == code) out.push_back(line.message);
        return out;
    }

    std::shared_ptr<FixedMidnight> midnight_ = std::make_shared<FixedMidnight>(3600.0);
};
