// The registry calls of the native build over the store (registry_db.h):
// opening, creating, deleting and enumerating keys and values with Windows'
// rules for sizes, handles and errors.
#include "faults.h"
#include "registry_db.h"

#include <cstring>

namespace pal {

namespace {

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

} // namespace

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
    // Whatever access the key grants, as Windows opens it here.
    return RegOpenKeyExA(hKey, lpSubKey, 0, MAXIMUM_ALLOWED, phkResult);
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired,
                             PHKEY phkResult) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(false);
    int64_t id = 0;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc == ERROR_INVALID_HANDLE) {
        return rc; // the result stays as it was, as in Windows
    }
    *phkResult = nullptr;
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    if ((!lpSubKey || !*lpSubKey) && IsPredefined(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    // HKEY_CLASSES_ROOT is a merged view on Windows; "\\" names the view
    // itself and opens a handle of its own.
    bool classesRoot =
        PredefinedCode(hKey) == 0x80000000u && lpSubKey && std::strcmp(lpSubKey, "\\") == 0;
    std::vector<std::string> parts;
    rc = classesRoot ? ERROR_SUCCESS : SplitSubKey(lpSubKey, parts);
    if (rc == ERROR_SUCCESS) {
        rc = WalkPath(id, parts, id);
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    // A protected key stands for one whose security grants no change: an
    // open that asks for the right to change it is refused, as Windows
    // refuses it, so a caller can learn that without trying the change.
    const REGSAM changes = DELETE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
    if ((samDesired & changes) != 0 && IsProtected(id)) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = NewKeyHandle(id);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (DWORD fault = pal::InjectedFault("RegCreateKeyA")) {
        return static_cast<LSTATUS>(fault);
    }
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(true);
    int64_t id = 0;
    std::vector<std::string> parts;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
    if (rc == ERROR_INVALID_HANDLE) {
        return rc; // the result stays as it was, as for an open
    }
    *phkResult = nullptr;
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
    query.Bind(1, id).Bind(2, UpperCase(lpValueName ? lpValueName : ""));
    if (!query.Step()) {
        if (query.Failed()) {
            return ERROR_REGISTRY_IO_FAILED;
        }
        if (lpcbData) {
            *lpcbData = 0;
        }
        return ERROR_FILE_NOT_FOUND;
    }
    // The size is read before the type is written: a caller may pass one
    // DWORD for both.
    DWORD capacity = lpcbData ? *lpcbData : 0;
    auto type = static_cast<DWORD>(query.Int(0));
    if (lpType) {
        *lpType = type;
    }
    if (lpcbData) {
        *lpcbData = capacity;
    }
    return CopyData(type, query.Text(1), lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
    if (DWORD fault = pal::InjectedFault("RegSetValueExA")) {
        return static_cast<LSTATUS>(fault);
    }
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
    std::string upper = UpperCase(name);
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
    if (Store::Get().Changes() == 0) {
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
    if (DWORD fault = pal::InjectedFault("RegDeleteValueA")) {
        return static_cast<LSTATUS>(fault);
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
    {
        Query erase("DELETE FROM vals WHERE key = ? AND uname = ?");
        erase.Bind(1, id).Bind(2, UpperCase(lpValueName ? lpValueName : ""));
        erase.Step();
        if (erase.Failed()) {
            return ERROR_REGISTRY_IO_FAILED;
        }
    }
    if (Store::Get().Changes() == 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    return transaction.Commit();
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (DWORD fault = pal::InjectedFault("RegDeleteKeyA")) {
        return static_cast<LSTATUS>(fault);
    }
    if (!lpSubKey) {
        return ERROR_INVALID_PARAMETER;
    }
    Transaction transaction(true);
    int64_t id = 0;
    std::vector<std::string> parts;
    LSTATUS rc = BeginOnKey(transaction, hKey, id);
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
    DWORD capacity = lpcbData ? *lpcbData : 0;
    bool nameFits = row.name.size() + 1 <= *lpcchValueName;
    bool dataFits = !lpData || capacity >= length;
    // A short buffer still reports the type and the data size needed; the
    // name's count stays as passed.
    if (lpType) {
        *lpType = row.type;
    }
    if (!dataFits) {
        // Nothing is filled in, the name neither.
        *lpcbData = length;
        return ERROR_MORE_DATA;
    }
    if (!nameFits) {
        // The data is filled in all the same, and the name as far as it
        // goes, terminated.
        if (*lpcchValueName > 0) {
            std::memcpy(lpValueName, row.name.data(), *lpcchValueName - 1);
            lpValueName[*lpcchValueName - 1] = '\0';
        }
        if (lpcbData) {
            *lpcbData = capacity;
        }
        CopyData(row.type, row.data, lpData, lpcbData);
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, row.name.c_str(), row.name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(row.name.size());
    if (lpcbData) {
        *lpcbData = capacity;
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
