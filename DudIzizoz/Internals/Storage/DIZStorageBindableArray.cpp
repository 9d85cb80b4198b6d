#include "DudIzizoz/Internals/Storage/DIZStorageBindableArray.h"

#include <sqlite3.h>

#include "DudIzizoz/Internals/Util/DIZConstants.h"
#include "DudIzizoz/Internals/Util/DIZLogger.h"

int DIZStorageTextType::bindWithStatement(sqlite3_stmt* statement, int index) const {
    if (!value_) return sqlite3_bind_null(statement, index);
    return sqlite3_bind_text64(statement, index, value_->data(), value_->size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8);
}

int DIZStorageNumberType::bindWithStatement(sqlite3_stmt* statement, int index) const {
    return sqlite3_bind_int64(statement, index, value_);
}

void DIZStorageBindableArray::addString(std::optional<std::string> value) {
    array_.push_back(std::make_shared<DIZStorageTextType>(std::move(value)));
}

void DIZStorageBindableArray::addNumber(int64_t value) {
    array_.push_back(std::make_shared<DIZStorageNumberType>(value));
}

int DIZStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const {
    for (size_t i = 0; i < array_.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        const int result = array_[i]->bindWithStatement(statement, index);
        if (result != SQLITE_OK) {
            DIZLogError(kDIZLogTag, "Binding query parameter %d failed with error: %d. Message: %@", index,
                        result, sqlite3_errmsg(database));
            return result;
        }
    }
    return SQLITE_OK;
}
