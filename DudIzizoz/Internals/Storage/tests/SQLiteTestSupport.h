#pragma once
// Reads and damages a sqlite file behind the storage's back, on a connection of the test's own.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace sqlite_test {

inline sqlite3* open(const std::filesystem::path& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

// Every value of the first column of `sql`, as text ("" for NULL); empty when the file cannot be read.
inline std::vector<std::string> column(const std::filesystem::path& file, const std::string& sql) {
    std::vector<std::string> values;
    sqlite3* db = open(file);
    if (!db) return values;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            values.push_back(text ? text : "");
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return values;
}

inline std::string scalar(const std::filesystem::path& file, const std::string& sql) {
    auto values = column(file, sql);
    return values.empty() ? "<none>" : values.front();
}

inline int exec(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = open(file);
    if (!db) return SQLITE_CANTOPEN;
    const int result = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return result;
}

inline void writeBytes(const std::filesystem::path& file, const std::vector<char>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file that is not a database at all: sqlite answers NOTADB (26).
inline void fillWithRandomBytes(const std::filesystem::path& file) {
    std::mt19937 random(26);
    std::vector<char> bytes(8192);
    for (auto& b : bytes) b = static_cast<char>(random());
    writeBytes(file, bytes);
}

// A database whose header is intact but whose schema page is garbage: sqlite answers CORRUPT (11).
inline void damageSchemaPage(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t i = 100; i < bytes.size() && i < 4096; ++i) bytes[i] = static_cast<char>(0xAB);
    writeBytes(file, bytes);
}

}  // namespace sqlite_test
