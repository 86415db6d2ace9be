// The registry store inside pal/: the SQLite database, its statements and
// transactions, and the key lookups that every registry call starts with.
// registry_store.cpp implements it; registry.cpp builds the calls on it.
#pragma once

#include "internal.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace pal {

constexpr int64_t kUsersRoot = 1;   // HKEY_USERS
constexpr int64_t kUserRoot = 2;    // HKEY_CURRENT_USER
constexpr int64_t kMachineRoot = 3; // HKEY_LOCAL_MACHINE
constexpr size_t kMaxKeyName = 255;
constexpr size_t kMaxValueName = 16383;

// A key opened by RegOpenKeyA and friends; the predefined roots need none.
struct KeyObject : Object {
    explicit KeyObject(int64_t keyId) : id(keyId) {}
    int64_t id;
};

class Store {
  public:
    static Store& Get() {
        static Store store;
        return store;
    }
    ~Store() {
        for (auto& entry : statements_) {
            sqlite3_finalize(entry.second);
        }
        if (db_) {
            sqlite3_close(db_);
        }
    }
    bool Ok() const { return db_ != nullptr; }
    sqlite3* Db() const { return db_; }

    sqlite3_stmt* Prepare(const char* sql) {
        auto found = statements_.find(sql);
        if (found != statements_.end()) {
            return found->second;
        }
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
            return nullptr;
        }
        statements_.emplace(sql, statement);
        return statement;
    }

    bool Exec(const char* sql) {
        return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    // A statement without results, prepared once: the transaction brackets
    // of every call.
    bool Run(const char* sql) {
        sqlite3_stmt* statement = db_ ? Prepare(sql) : nullptr;
        if (!statement) {
            return false;
        }
        int rc = sqlite3_step(statement);
        sqlite3_reset(statement);
        return rc == SQLITE_DONE;
    }

    // Changes by this process bump `generation`; changes by other processes
    // show in data_version. Together they tell when an enumeration snapshot
    // is stale.
    uint64_t generation = 0;
    int depth = 0;
    int64_t DataVersion();
    // The id of the row that the last INSERT made.
    int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    // The rows that the last UPDATE or DELETE changed.
    int Changes() const { return sqlite3_changes(db_); }

  private:
    Store();
    bool Initialise();

    sqlite3* db_ = nullptr;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// One prepared statement in use; reset when it goes out of scope.
class Query {
  public:
    explicit Query(const char* sql) : statement_(Store::Get().Prepare(sql)) {
        failed_ = statement_ == nullptr;
    }
    ~Query() {
        if (statement_) {
            sqlite3_reset(statement_);
            sqlite3_clear_bindings(statement_);
        }
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, int64_t value) {
        if (statement_) {
            sqlite3_bind_int64(statement_, index, value);
        }
        return *this;
    }
    Query& Bind(int index, const std::string& text) {
        if (statement_) {
            sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        }
        return *this;
    }
    Query& BindBlob(int index, const void* data, size_t size) {
        if (statement_) {
            // A zero-length blob must still be a blob, not NULL.
            sqlite3_bind_blob(statement_, index, size ? data : "", static_cast<int>(size),
                              SQLITE_TRANSIENT);
        }
        return *this;
    }
    // True for a row; false when done or failed (see Failed()).
    bool Step() {
        if (!statement_) {
            return false;
        }
        int rc = sqlite3_step(statement_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc != SQLITE_DONE) {
            failed_ = true;
        }
        return false;
    }
    bool Failed() const { return failed_; }
    int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string Text(int column) const {
        const void* data = sqlite3_column_blob(statement_, column);
        int size = sqlite3_column_bytes(statement_, column);
        return data ? std::string(static_cast<const char*>(data), size) : std::string();
    }

  private:
    sqlite3_stmt* statement_;
    bool failed_ = false;
};

// One call's transaction, or a savepoint inside a batch.
class Transaction {
  public:
    explicit Transaction(bool write) : write_(write) {
        Store& store = Store::Get();
        if (!store.Ok()) {
            return;
        }
        nested_ = store.depth > 0;
        const char* sql =
            nested_ ? "SAVEPOINT call" : (write ? "BEGIN IMMEDIATE" : "BEGIN DEFERRED");
        begun_ = store.Run(sql);
        if (begun_) {
            ++store.depth;
        }
    }
    ~Transaction() {
        if (begun_ && !done_) {
            Finish(false);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool Begun() const { return begun_; }
    LSTATUS Commit() { return Finish(true) ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED; }

  private:
    bool Finish(bool commit) {
        Store& store = Store::Get();
        done_ = true;
        --store.depth;
        bool ok;
        if (nested_) {
            ok = commit ? store.Run("RELEASE call")
                        : store.Run("ROLLBACK TO call") && store.Run("RELEASE call");
        } else {
            ok = store.Run(commit ? "COMMIT" : "ROLLBACK");
            if (commit && !ok) {
                store.Run("ROLLBACK");
            }
        }
        if (write_) {
            ++store.generation;
        }
        return ok;
    }

    bool write_;
    bool nested_ = false;
    bool begun_ = false;
    bool done_ = false;
};

bool IsStringType(DWORD type);
uint32_t PredefinedCode(HKEY key);
bool IsPredefined(HKEY key);
// Every call on an open key starts so: its own transaction, then the key
// that the handle names (ERROR_REGISTRY_IO_FAILED when the store cannot be
// reached).
LSTATUS BeginOnKey(const Transaction& transaction, HKEY key, int64_t& id);
// Subkey path components; empty components (doubled or trailing
// backslashes) are skipped, a leading backslash is refused, as Windows does.
LSTATUS SplitSubKey(const char* subKey, std::vector<std::string>& parts);
// The key below start that the components name.
LSTATUS WalkPath(int64_t start, const std::vector<std::string>& parts, int64_t& id);
// As WalkPath, creating the keys that are missing.
LSTATUS CreatePath(int64_t start, const std::vector<std::string>& parts, int64_t& id);
bool IsProtected(int64_t id);

} // namespace pal
