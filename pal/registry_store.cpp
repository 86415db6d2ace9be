// The registry store: an SQLite database in the machine folder. Keys form a
// tree by parent id; names are unique per parent without regard to letter
// case (an upper-cased copy carries the unique index); values keep their
// creation order through their row id. Every call is one transaction, so a
// call that reported success has reached the database. Also the extras
// beyond Win32: protected keys and batches.
#include "registry_db.h"
#include "pal_registry_extras.h"

namespace pal {

int64_t Store::DataVersion() {
    Query query("PRAGMA data_version");
    return query.Step() ? query.Int(0) : -1;
}

Store::Store() {
    std::string path = MachineRoot() + "/registry.db";
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        return;
    }
    sqlite3_busy_timeout(db_, 10000);
    if (!Initialise()) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
}

bool Store::Initialise() {
    // WAL with synchronous=NORMAL: a commit is in the log before the call
    // returns, so a crash of the process loses nothing; only a crash of the
    // whole system can lose the last commits. A full fsync per call would
    // make an uninstall's registry work its slowest part.
    // Checkpoints are where the fsyncs happen; letting the log grow to about
    // 40 MB between them keeps an uninstall of many entries from waiting on
    // the disk hundreds of times.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=NORMAL") ||
        !Exec("PRAGMA wal_autocheckpoint=10000")) {
        return false;
    }
    if (!Exec("BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = Exec("CREATE TABLE IF NOT EXISTS keys("
                   "id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
                   "name TEXT NOT NULL, uname TEXT NOT NULL,"
                   "protected INTEGER NOT NULL DEFAULT 0)") &&
              Exec("CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, uname)") &&
              Exec("CREATE TABLE IF NOT EXISTS vals("
                   "id INTEGER PRIMARY KEY, key INTEGER NOT NULL,"
                   "name TEXT NOT NULL, uname TEXT NOT NULL, type INTEGER NOT NULL,"
                   "data BLOB NOT NULL)") &&
              Exec("CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, uname)") &&
              Exec("INSERT OR IGNORE INTO keys(id, parent, name, uname) VALUES"
                   "(1, 0, 'HKEY_USERS', 'HKEY_USERS'),"
                   "(2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
                   "(3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE')");
    // HKEY_CLASSES_ROOT is a view of HKLM\Software\Classes, as on Windows
    // for keys that no user has overridden.
    ok =
        ok &&
        Exec(
            "INSERT OR IGNORE INTO keys(parent, name, uname) VALUES (3, 'Software', 'SOFTWARE')") &&
        Exec("INSERT OR IGNORE INTO keys(parent, name, uname) SELECT id, 'Classes', 'CLASSES' "
             "FROM keys WHERE parent = 3 AND uname = 'SOFTWARE'");
    if (!ok) {
        Exec("ROLLBACK");
        return false;
    }
    return Exec("COMMIT");
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The predefined key a handle names, or 0. Windows looks only at the low 32
// bits, whatever the high ones hold (zeros, a sign extension or anything).
uint32_t PredefinedCode(HKEY key) {
    auto low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
    return low >= 0x80000000u && low <= 0x80000003u ? low : 0;
}

bool IsPredefined(HKEY key) {
    return PredefinedCode(key) != 0;
}

namespace {

LSTATUS FindChild(int64_t parent, const std::string& name, int64_t& id) {
    Query query("SELECT id FROM keys WHERE parent = ? AND uname = ?");
    query.Bind(1, parent).Bind(2, UpperCase(name));
    if (query.Step()) {
        id = query.Int(0);
        return ERROR_SUCCESS;
    }
    return query.Failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
}

bool KeyRowExists(int64_t id) {
    Query query("SELECT 1 FROM keys WHERE id = ?");
    query.Bind(1, id);
    return query.Step();
}

// The key id behind a handle: a predefined root or an open KeyObject.
LSTATUS ResolveHandle(HKEY key, int64_t& id) {
    switch (PredefinedCode(key)) {
    case 0x80000000u: {
        int64_t software = 0;
        LSTATUS rc = FindChild(kMachineRoot, "Software", software);
        return rc == ERROR_SUCCESS ? FindChild(software, "Classes", id) : rc;
    }
    case 0x80000001u:
        id = kUserRoot;
        return ERROR_SUCCESS;
    case 0x80000002u:
        id = kMachineRoot;
        return ERROR_SUCCESS;
    case 0x80000003u:
        id = kUsersRoot;
        return ERROR_SUCCESS;
    default:
        break;
    }
    auto* object = LookupHandleAs<KeyObject>(key);
    if (!object) {
        return ERROR_INVALID_HANDLE;
    }
    if (!KeyRowExists(object->id)) {
        return ERROR_KEY_DELETED;
    }
    id = object->id;
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS BeginOnKey(const Transaction& transaction, HKEY key, int64_t& id) {
    if (!transaction.Begun()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    return ResolveHandle(key, id);
}

LSTATUS SplitSubKey(const char* subKey, std::vector<std::string>& parts) {
    parts.clear();
    if (!subKey || !*subKey) {
        return ERROR_SUCCESS;
    }
    if (*subKey == '\\') {
        return ERROR_BAD_PATHNAME;
    }
    std::string part;
    for (const char* p = subKey;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!part.empty()) {
                parts.push_back(part);
                part.clear();
            }
            if (*p == '\0') {
                break;
            }
        } else {
            part += *p;
        }
    }
    return ERROR_SUCCESS;
}

LSTATUS WalkPath(int64_t start, const std::vector<std::string>& parts, int64_t& id) {
    id = start;
    for (const auto& part : parts) {
        LSTATUS rc = FindChild(id, part, id);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

bool IsProtected(int64_t id) {
    Query query("SELECT protected FROM keys WHERE id = ?");
    query.Bind(1, id);
    return query.Step() && query.Int(0) != 0;
}

LSTATUS CreatePath(int64_t start, const std::vector<std::string>& parts, int64_t& id) {
    id = start;
    for (const auto& part : parts) {
        if (part.size() > kMaxKeyName) {
            return ERROR_INVALID_PARAMETER;
        }
        int64_t child = 0;
        LSTATUS rc = FindChild(id, part, child);
        if (rc == ERROR_FILE_NOT_FOUND) {
            if (IsProtected(id)) {
                return ERROR_ACCESS_DENIED;
            }
            Query insert("INSERT INTO keys(parent, name, uname) VALUES (?, ?, ?)");
            insert.Bind(1, id).Bind(2, part).Bind(3, UpperCase(part));
            insert.Step();
            if (insert.Failed()) {
                return ERROR_REGISTRY_IO_FAILED;
            }
            child = Store::Get().LastInsertId();
        } else if (rc != ERROR_SUCCESS) {
            return rc;
        }
        id = child;
    }
    return ERROR_SUCCESS;
}

LSTATUS RegProtectKey(HKEY root, const char* subKey, bool protect) {
    Transaction transaction(true);
    int64_t id = 0;
    std::vector<std::string> parts;
    LSTATUS rc = BeginOnKey(transaction, root, id);
    if (rc == ERROR_SUCCESS) {
        rc = SplitSubKey(subKey, parts);
    }
    if (rc == ERROR_SUCCESS) {
        rc = WalkPath(id, parts, id);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    Query update("UPDATE keys SET protected = ? WHERE id = ?");
    update.Bind(1, protect ? 1 : 0).Bind(2, id);
    update.Step();
    if (update.Failed()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    return transaction.Commit();
}

RegBatch::RegBatch() {
    Store& store = Store::Get();
    if (store.Ok() && store.depth == 0 && store.Run("BEGIN IMMEDIATE")) {
        active_ = true;
        ++store.depth;
    }
}

RegBatch::~RegBatch() {
    if (active_) {
        Store& store = Store::Get();
        store.Run("ROLLBACK");
        --store.depth;
        ++store.generation;
    }
}

LSTATUS RegBatch::Commit() {
    if (!active_) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    Store& store = Store::Get();
    active_ = false;
    --store.depth;
    ++store.generation;
    if (store.Run("COMMIT")) {
        return ERROR_SUCCESS;
    }
    store.Run("ROLLBACK");
    return ERROR_REGISTRY_IO_FAILED;
}

} // namespace pal
