// The registry of the native build: an SQLite database in the machine folder.
// Keys form a tree by parent id; names are unique per parent without regard
// to letter case (an upper-cased copy carries the unique index); values keep
// their creation order through their row id. Every call is one transaction,
// so a call that reported success has reached the database.
#include "internal.h"
#include "registry_store.h"

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace pal {

namespace {

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

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string Upper(const std::string& text) {
    std::string upper = text;
    if (!upper.empty()) {
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    }
    return upper;
}

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

bool IsPredefined(HKEY key) {
    auto value = reinterpret_cast<uintptr_t>(key);
    return value >= 0x80000000u && value <= 0x80000003u;
}

LSTATUS FindChild(int64_t parent, const std::string& name, int64_t& id) {
    Query query("SELECT id FROM keys WHERE parent = ? AND uname = ?");
    query.Bind(1, parent).Bind(2, Upper(name));
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
    switch (reinterpret_cast<uintptr_t>(key)) {
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

// Subkey path components; empty components (doubled or trailing
// backslashes) are skipped, a leading backslash is refused, as Windows does.
// Every call on an open key starts so: its own transaction, then the key
// that the handle names (ERROR_REGISTRY_IO_FAILED when the store cannot be
// reached).
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

HKEY NewKeyHandle(int64_t id) {
    return static_cast<HKEY>(AddHandle(std::make_unique<KeyObject>(id)));
}

// Snapshots for index-by-index enumeration: RegEnumKeyExA/RegEnumValueA are
// called with rising indices, so the whole list is read once and served from
// memory until anything changes. Without this, listing n subkeys would cost
// n queries of growing offset.
struct ValueRow {
    std::string name;
    DWORD type;
    std::string data;
};

template <typename Row> struct Snapshot {
    int64_t key = -1;
    uint64_t generation = 0;
    int64_t dataVersion = -1;
    std::vector<Row> rows;

    bool Fresh(int64_t id, Store& store, int64_t version) const {
        return key == id && generation == store.generation && dataVersion == version;
    }
};

Snapshot<std::string> subKeySnapshot;
Snapshot<ValueRow> valueSnapshot;

LSTATUS LoadSubKeys(int64_t id) {
    Store& store = Store::Get();
    int64_t version = store.DataVersion();
    if (subKeySnapshot.Fresh(id, store, version)) {
        return ERROR_SUCCESS;
    }
    subKeySnapshot = {};
    Query query("SELECT name FROM keys WHERE parent = ? ORDER BY uname");
    query.Bind(1, id);
    while (query.Step()) {
        subKeySnapshot.rows.push_back(query.Text(0));
    }
    if (query.Failed()) {
        subKeySnapshot = {};
        return ERROR_REGISTRY_IO_FAILED;
    }
    subKeySnapshot.key = id;
    subKeySnapshot.generation = store.generation;
    subKeySnapshot.dataVersion = version;
    return ERROR_SUCCESS;
}

LSTATUS LoadValues(int64_t id) {
    Store& store = Store::Get();
    int64_t version = store.DataVersion();
    if (valueSnapshot.Fresh(id, store, version)) {
        return ERROR_SUCCESS;
    }
    valueSnapshot = {};
    Query query("SELECT name, type, data FROM vals WHERE key = ? ORDER BY id");
    query.Bind(1, id);
    while (query.Step()) {
        valueSnapshot.rows.push_back(
            {query.Text(0), static_cast<DWORD>(query.Int(1)), query.Text(2)});
    }
    if (query.Failed()) {
        valueSnapshot = {};
        return ERROR_REGISTRY_IO_FAILED;
    }
    valueSnapshot.key = id;
    valueSnapshot.generation = store.generation;
    valueSnapshot.dataVersion = version;
    return ERROR_SUCCESS;
}

// Copies value data as RegQueryValueExA does: ERROR_MORE_DATA with the size
// needed when the buffer is short (the buffer untouched); a string that was
// stored without its terminating NUL gets one when the buffer has room for it,
// which the returned size does not count.
LSTATUS CopyData(DWORD type, const std::string& stored, LPBYTE data, LPDWORD size) {
    DWORD length = static_cast<DWORD>(stored.size());
    if (data) {
        if (*size < length) {
            *size = length;
            return ERROR_MORE_DATA;
        }
        if (length) {
            std::memcpy(data, stored.data(), length);
        }
        if (IsStringType(type) && length > 0 && stored.back() != '\0' && *size > length) {
            data[length] = 0;
        }
    }
    if (size) {
        *size = length;
    }
    return ERROR_SUCCESS;
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
            insert.Bind(1, id).Bind(2, part).Bind(3, Upper(part));
            insert.Step();
            if (insert.Failed()) {
                return ERROR_REGISTRY_IO_FAILED;
            }
            child = sqlite3_last_insert_rowid(Store::Get().Db());
        } else if (rc != ERROR_SUCCESS) {
            return rc;
        }
        id = child;
    }
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegProtectKey(HKEY root, const char* subKey, bool protect) {
    Transaction transaction(true);
    if (!transaction.Begun()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    int64_t id = 0;
    std::vector<std::string> parts;
    LSTATUS rc = ResolveHandle(root, id);
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

using namespace pal;

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    // No subkey: the very handle comes back, root or not.
    if (!lpSubKey || !*lpSubKey) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    Transaction transaction(false);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if ((!lpSubKey || !*lpSubKey) && IsPredefined(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    std::vector<std::string> parts;
    rc = SplitSubKey(lpSubKey, parts);
    if (rc == ERROR_SUCCESS) {
        rc = WalkPath(id, parts, id);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    *phkResult = NewKeyHandle(id);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    Transaction transaction(true);
    if (!transaction.Begun()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    int64_t id = 0;
    std::vector<std::string> parts;
    LSTATUS rc = ResolveHandle(hKey, id);
    if (rc == ERROR_SUCCESS) {
        rc = SplitSubKey(lpSubKey, parts);
    }
    if (rc == ERROR_SUCCESS) {
        rc = CreatePath(id, parts, id);
    }
    if (rc == ERROR_SUCCESS) {
        rc = transaction.Commit();
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    *phkResult = NewKeyHandle(id);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(false);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    Query query("SELECT type, data FROM vals WHERE key = ? AND uname = ?");
    query.Bind(1, id).Bind(2, Upper(lpValueName ? lpValueName : ""));
    if (!query.Step()) {
        return query.Failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
    }
    auto type = static_cast<DWORD>(query.Int(0));
    if (lpType) {
        *lpType = type;
    }
    return CopyData(type, query.Text(1), lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) {
        return ERROR_NOACCESS;
    }
    std::string name = lpValueName ? lpValueName : "";
    if (name.size() > kMaxValueName) {
        return ERROR_INVALID_PARAMETER;
    }
    // A string whose size leaves out its terminating NUL gets it counted, as
    // Windows does when the byte after the given size is that NUL.
    if (IsStringType(dwType) && cbData && lpData[cbData - 1] && !lpData[cbData]) {
        ++cbData;
    }
    Transaction transaction(true);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if (IsProtected(id)) {
        return ERROR_ACCESS_DENIED;
    }
    std::string upper = Upper(name);
    {
        // An existing value keeps its place in the enumeration order.
        Query update("UPDATE vals SET type = ?, data = ? WHERE key = ? AND uname = ?");
        update.Bind(1, static_cast<int64_t>(dwType)).BindBlob(2, lpData, cbData);
        update.Bind(3, id).Bind(4, upper);
        update.Step();
        if (update.Failed()) {
            return ERROR_REGISTRY_IO_FAILED;
        }
    }
    if (sqlite3_changes(Store::Get().Db()) == 0) {
        Query insert("INSERT INTO vals(key, name, uname, type, data) VALUES (?, ?, ?, ?, ?)");
        insert.Bind(1, id).Bind(2, name).Bind(3, upper).Bind(4, static_cast<int64_t>(dwType));
        insert.BindBlob(5, lpData, cbData);
        insert.Step();
        if (insert.Failed()) {
            return ERROR_REGISTRY_IO_FAILED;
        }
    }
    return transaction.Commit();
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    Transaction transaction(true);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if (IsProtected(id)) {
        return ERROR_ACCESS_DENIED;
    }
    {
        Query erase("DELETE FROM vals WHERE key = ? AND uname = ?");
        erase.Bind(1, id).Bind(2, Upper(lpValueName ? lpValueName : ""));
        erase.Step();
        if (erase.Failed()) {
            return ERROR_REGISTRY_IO_FAILED;
        }
    }
    if (sqlite3_changes(Store::Get().Db()) == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    return transaction.Commit();
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(true);
    if (!transaction.Begun()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    int64_t id = 0;
    std::vector<std::string> parts;
    LSTATUS rc = ResolveHandle(hKey, id);
    if (rc == ERROR_SUCCESS) {
        rc = SplitSubKey(lpSubKey, parts);
    }
    // HKEY_CLASSES_ROOT is a key of the store, but as a root it stays too.
    if (rc == ERROR_SUCCESS && parts.empty() && IsPredefined(hKey)) {
        rc = ERROR_ACCESS_DENIED;
    }
    if (rc == ERROR_SUCCESS) {
        rc = WalkPath(id, parts, id);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    // A root, a protected key and a key that still has subkeys stay.
    {
        Query check("SELECT parent, protected, EXISTS(SELECT 1 FROM keys WHERE parent = ?1) "
                    "FROM keys WHERE id = ?1");
        check.Bind(1, id);
        if (!check.Step()) {
            return check.Failed() ? ERROR_REGISTRY_IO_FAILED : ERROR_FILE_NOT_FOUND;
        }
        if (check.Int(0) == 0 || check.Int(1) != 0 || check.Int(2) != 0) {
            return ERROR_ACCESS_DENIED;
        }
    }
    Query values("DELETE FROM vals WHERE key = ?");
    values.Bind(1, id);
    values.Step();
    Query key("DELETE FROM keys WHERE id = ?");
    key.Bind(1, id);
    key.Step();
    if (values.Failed() || key.Failed()) {
        return ERROR_REGISTRY_IO_FAILED;
    }
    return transaction.Commit();
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                             LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                             FILETIME* lpftLastWriteTime) {
    if (!lpName || !lpcchName || lpReserved) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(false);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc == ERROR_SUCCESS) {
        rc = LoadSubKeys(id);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    const auto& names = subKeySnapshot.rows;
    if (dwIndex >= names.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::string& name = names[dwIndex];
    // The count stays as passed when the name does not fit.
    if (name.size() + 1 > *lpcchName) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass && lpcchClass && *lpcchClass) {
        lpClass[0] = '\0';
    }
    if (lpcchClass) {
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) {
        *lpftLastWriteTime = FILETIME{0, 0};
    }
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(false);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc == ERROR_SUCCESS) {
        rc = LoadValues(id);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    const auto& rows = valueSnapshot.rows;
    if (dwIndex >= rows.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const ValueRow& row = rows[dwIndex];
    DWORD length = static_cast<DWORD>(row.data.size());
    if (lpData && *lpcbData < length) {
        *lpcbData = length;
        return ERROR_MORE_DATA;
    }
    if (row.name.size() + 1 > *lpcchValueName) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, row.name.c_str(), row.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(row.name.size());
    if (lpType) {
        *lpType = row.type;
    }
    return CopyData(row.type, row.data, lpData, lpcbData);
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey)) {
        return ERROR_SUCCESS;
    }
    if (!LookupHandleAs<KeyObject>(hKey)) {
        return ERROR_INVALID_HANDLE;
    }
    CloseHandleObject(hKey);
    return ERROR_SUCCESS;
}
