#pragma once
// Values bound to the "?" parameters of a statement, in order. Everything that reaches SQL from
// outside the code goes through here, never into the statement text.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class DIZStorageBindableType {
  public:
    virtual ~DIZStorageBindableType() = default;
    // Binds at the 1-based parameter `index`; the sqlite result code.
    virtual int bindWithStatement(sqlite3_stmt* statement, int index) const = 0;
    // The value as it appears in log messages.
    virtual std::string description() const = 0;
};

// UTF-8 text that sqlite copies; no value binds NULL.
class DIZStorageTextType : public DIZStorageBindableType {
  public:
    explicit DIZStorageTextType(std::optional<std::string> value) : value_(std::move(value)) {}
    const std::optional<std::string>& value() const { return value_; }
    int bindWithStatement(sqlite3_stmt* statement, int index) const override;
    std::string description() const override { return value_.value_or("(null)"); }

  private:
    std::optional<std::string> value_;
};

// A signed 64-bit integer.
class DIZStorageNumberType : public DIZStorageBindableType {
  public:
    explicit DIZStorageNumberType(int64_t value) : value_(value) {}
    int64_t value() const { return value_; }
    int bindWithStatement(sqlite3_stmt* statement, int index) const override;
    std::string description() const override { return std::to_string(value_); }

  private:
    int64_t value_;
};

class DIZStorageBindableArray {
  public:
    void addString(std::optional<std::string> value);
    void addNumber(int64_t value);
    const std::vector<std::shared_ptr<const DIZStorageBindableType>>& array() const { return array_; }
    bool empty() const { return array_.empty(); }

    // Binds every value at its position + 1. The first failure stops, is logged and returned.
    int bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const;

  private:
    std::vector<std::shared_ptr<const DIZStorageBindableType>> array_;
};
