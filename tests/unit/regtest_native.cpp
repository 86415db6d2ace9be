// The native store seen from outside the program's calls: protection and a
// second database connection, as another process would have.
#include "RegTestSupport.h"

#include "internal.h"
#include "pal_registry_extras.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <vector>

bool RegistryIsNativeStore() {
    return true;
}

bool ProtectKeyForTest(HKEY root, const std::string& subKey, bool protect) {
    return pal::RegProtectKey(root, subKey.c_str(), protect) == ERROR_SUCCESS;
}

namespace {

std::string Upper(std::string text) {
    if (!text.empty()) {
        CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    }
    return text;
}

bool Lookup(sqlite3* db, const char* sql, int64_t parent, const std::string& name, int64_t& id) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        return false;
    }
    std::string upper = Upper(name);
    sqlite3_bind_int64(statement, 1, parent);
    sqlite3_bind_text(statement, 2, upper.data(), static_cast<int>(upper.size()), SQLITE_TRANSIENT);
    bool found = sqlite3_step(statement) == SQLITE_ROW;
    if (found) {
        id = sqlite3_column_int64(statement, 0);
    }
    sqlite3_finalize(statement);
    return found;
}

} // namespace

namespace {

std::vector<std::string> Components(const std::string& subKey) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : subKey + "\\") {
        if (c == '\\') {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += c;
        }
    }
    return parts;
}

// The id of a key below HKEY_CURRENT_USER, looked up through `db`.
bool FindKey(sqlite3* db, const std::string& subKey, int64_t& id) {
    bool found = Lookup(db, "SELECT id FROM keys WHERE parent = 0 AND uname = ?2 AND ?1 = 0", 0,
                        "HKEY_CURRENT_USER", id);
    for (const auto& name : Components(subKey)) {
        found = found &&
                Lookup(db, "SELECT id FROM keys WHERE parent = ?1 AND uname = ?2", id, name, id);
    }
    return found;
}

sqlite3* OpenSecondConnection(int flags) {
    sqlite3* db = nullptr;
    std::string file = pal::MachineRoot() + "/registry.db";
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

} // namespace

bool ValueCommittedInStore(const std::string& subKeyOfCurrentUser, const std::string& valueName) {
    sqlite3* db = OpenSecondConnection(SQLITE_OPEN_READONLY);
    if (!db) {
        return false;
    }
    int64_t id = 0;
    bool found = FindKey(db, subKeyOfCurrentUser, id) &&
                 Lookup(db, "SELECT id FROM vals WHERE key = ?1 AND uname = ?2", id, valueName, id);
    sqlite3_close(db);
    return found;
}

bool AddSubKeyFromOutside(const std::string& subKeyOfCurrentUser, const std::string& name) {
    sqlite3* db = OpenSecondConnection(SQLITE_OPEN_READWRITE);
    if (!db) {
        return false;
    }
    int64_t id = 0;
    bool ok = FindKey(db, subKeyOfCurrentUser, id);
    sqlite3_stmt* insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO keys(parent, name, uname) VALUES (?, ?, ?)", -1,
                                  &insert, nullptr) == SQLITE_OK;
    if (ok) {
        std::string upper = Upper(name);
        sqlite3_bind_int64(insert, 1, id);
        sqlite3_bind_text(insert, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, upper.data(), static_cast<int>(upper.size()),
                          SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return ok;
}

void InRegistryBatch(bool commit, void (*action)(void*), void* context) {
    pal::RegBatch batch;
    ASSERT_TRUE(batch.Active());
    action(context);
    if (commit) {
        ASSERT_EQ(batch.Commit(), ERROR_SUCCESS);
    }
}
