#include "store/store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/store_location.h"

namespace qoramark::store {

using namespace platform;

namespace {

constexpr std::int32_t errorBadPathname = 161;
constexpr std::int32_t errorRegistryIoFailed = 1016;

// Windows refuses key name components longer than this.
constexpr std::size_t maximumKeyNameLength = 255;

// The narrow registry calls widen a sub-key path into a fixed buffer of 261
// characters; a longer path fails with ERROR_MORE_DATA before any key is looked
// at (as Wine answers RegCreateKeyExA).
constexpr std::size_t maximumSubKeyPathLength = 260;

// How long a run waits for another run's write before it gives up.
constexpr int busyTimeoutMilliseconds = 30000;

const char* const schemaStatements[] = {
    "CREATE TABLE registry_keys ("
    " id INTEGER PRIMARY KEY,"
    " parent INTEGER REFERENCES registry_keys(id),"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE (parent, name))",
    "CREATE TABLE registry_values ("
    " key INTEGER NOT NULL REFERENCES registry_keys(id),"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY (key, name)) WITHOUT ROWID",
    "INSERT INTO registry_keys (id, parent, name) VALUES (1, NULL, '')",
};

constexpr sqlite3_int64 rootKeyId = 1;

// One connection per root and process, opened at the first key and kept for
// the keys after it: opening a store and reading its schema costs more than a
// run's writes.
//
// A key's operations form one write transaction, begun when the key is opened
// and committed when it is closed, so a run killed in between leaves none of
// that key's writes rather than some of them. Keys opened while another is
// open on the same connection join its transaction, which the last close
// commits. A run holds one key at a time for a few operations, so other runs
// wait for the write lock only that long.

struct StoreConnection {
    std::string path;
    sqlite3* db = nullptr;
    // Keys open on this connection; the transaction is open while there are any.
    std::uint32_t openKeys = 0;
    // Why the open transaction ended early (SQLite rolls back on some failures,
    // such as a full disk); errorSuccess while it runs.
    std::int32_t transactionLost = errorSuccess;
    sqlite3_stmt* findKey = nullptr;
    sqlite3_stmt* insertKey = nullptr;
    sqlite3_stmt* selectValue = nullptr;
    sqlite3_stmt* upsertValue = nullptr;
    sqlite3_stmt* deleteValue = nullptr;

    StoreConnection() = default;
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;
    ~StoreConnection() {
        for (sqlite3_stmt* statement :
             {findKey, insertKey, selectValue, upsertValue, deleteValue}) {
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
    }
};

// The connections of this process, one per store file.
std::vector<std::unique_ptr<StoreConnection>>& storeConnections() {
    static std::vector<std::unique_ptr<StoreConnection>> connections;
    return connections;
}

std::int32_t statusFromSqlite(int result) {
    switch (result & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
        return errorSuccess;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return errorBadDb;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return errorAccessDenied;
    default:
        return errorRegistryIoFailed;
    }
}

// The local-machine store is shared and readable by all; a user's own store
// is private to that user.
mode_t folderMode(RegistryKey root) {
    return root == localMachineRoot ? 0755 : 0700;
}

mode_t fileMode(RegistryKey root) {
    return root == localMachineRoot ? 0644 : 0600;
}

bool makeFolders(const std::string& folder, mode_t mode) {
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const std::size_t slash = folder.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(folder.substr(0, slash), 0755)) {
        return false;
    }
    if (mkdir(folder.c_str(), mode) != 0) {
        return errno == EEXIST;
    }
    return chmod(folder.c_str(), mode) == 0;
}

// Creates an empty store file with the root's permissions when none exists;
// SQLite takes an empty file as a new database.
bool makeStoreFile(const std::string& path, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        return errno == EEXIST;
    }
    const bool madeMode = fchmod(fd, mode) == 0;
    close(fd);
    return madeMode;
}

bool execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

int queryInteger(sqlite3* db, const char* sql, sqlite3_int64& result) {
    sqlite3_stmt* statement = nullptr;
    int status = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (status == SQLITE_OK) {
        status = sqlite3_step(statement);
        if (status == SQLITE_ROW) {
            result = sqlite3_column_int64(statement, 0);
            status = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    return status;
}

enum class StoreKind { ours, empty, foreign };

int identifyStore(sqlite3* db, StoreKind& kind) {
    sqlite3_int64 applicationId = 0;
    sqlite3_int64 schemaVersion = 0;
    sqlite3_int64 objectCount = 0;
    int status = queryInteger(db, "PRAGMA application_id", applicationId);
    if (status == SQLITE_OK) {
        status = queryInteger(db, "PRAGMA user_version", schemaVersion);
    }
    if (status != SQLITE_OK) {
        return status;
    }
    if (applicationId == storeApplicationId) {
        kind = schemaVersion == storeSchemaVersion ? StoreKind::ours : StoreKind::foreign;
        return SQLITE_OK;
    }
    if (applicationId != 0 || schemaVersion != 0) {
        kind = StoreKind::foreign;
        return SQLITE_OK;
    }
    status = queryInteger(db, "SELECT count(*) FROM sqlite_master", objectCount);
    kind = objectCount == 0 ? StoreKind::empty : StoreKind::foreign;
    return status;
}

// Lays down the schema in a new, empty database. Runs that start together
// serialise on the write lock; whoever comes second finds the schema there.
std::int32_t createSchema(sqlite3* db) {
    if (!execute(db, "PRAGMA journal_mode=WAL")) {
        return statusFromSqlite(sqlite3_errcode(db));
    }
    if (!execute(db, "BEGIN IMMEDIATE")) {
        return statusFromSqlite(sqlite3_errcode(db));
    }
    StoreKind kind = StoreKind::foreign;
    int status = identifyStore(db, kind);
    if (status == SQLITE_OK && kind == StoreKind::empty) {
        for (const char* statement : schemaStatements) {
            if (!execute(db, statement)) {
                status = sqlite3_errcode(db);
                break;
            }
        }
        const std::string stamp = "PRAGMA application_id=" + std::to_string(storeApplicationId) +
                                  "; PRAGMA user_version=" + std::to_string(storeSchemaVersion);
        if (status == SQLITE_OK && !execute(db, stamp.c_str())) {
            status = sqlite3_errcode(db);
        }
    }
    if (status != SQLITE_OK || kind == StoreKind::foreign) {
        execute(db, "ROLLBACK");
        return status != SQLITE_OK ? statusFromSqlite(status) : errorBadDb;
    }
    if (!execute(db, "COMMIT")) {
        const std::int32_t failed = statusFromSqlite(sqlite3_errcode(db));
        execute(db, "ROLLBACK");
        return failed;
    }
    return errorSuccess;
}

std::int32_t openStore(RegistryKey root, sqlite3*& db) {
    const std::string folder = storeFolder(root);
    const std::string path = storePath(root);
    if (folder.empty() || !makeFolders(folder, folderMode(root)) ||
        !makeStoreFile(path, fileMode(root))) {
        return errorAccessDenied;
    }
    int status =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (status != SQLITE_OK) {
        sqlite3_close(db);
        db = nullptr;
        return statusFromSqlite(status);
    }
    sqlite3_busy_timeout(db, busyTimeoutMilliseconds);
    // In WAL mode this keeps the store consistent across crashes without a
    // sync on every commit; only a power loss can take back the last writes.
    execute(db, "PRAGMA synchronous=NORMAL");
    // A connection lasts one run; checkpointing at each close would sync the
    // files on every run. The journal is checkpointed as it grows instead, and
    // kept short: a run that opens the store alone reads all of it back first.
    // A run commits two keys of about one page each, so this checkpoints about
    // every fiftieth run.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    execute(db, "PRAGMA wal_autocheckpoint=100");
    int persistWal = 1;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persistWal);
    return errorSuccess;
}

// The store's connection for this process: the one already open on the root's
// file or a new one. Idle connections to other files (the folder changed in
// between) are closed.
std::int32_t connectStore(RegistryKey root, StoreConnection*& store) {
    const std::string path = storePath(root);
    auto& connections = storeConnections();
    for (const auto& connection : connections) {
        if (connection->path == path) {
            store = connection.get();
            return errorSuccess;
        }
    }
    std::erase_if(connections, [](const auto& connection) { return connection->openKeys == 0; });
    auto connection = std::make_unique<StoreConnection>();
    connection->path = path;
    if (const std::int32_t status = openStore(root, connection->db); status != errorSuccess) {
        return status;
    }
    store = connection.get();
    connections.push_back(std::move(connection));
    return errorSuccess;
}

// The status of a file that cannot be written: a foreign one is still told
// apart, so it never looks like a store that only lacks permissions.
std::int32_t readOnlyStatus(sqlite3* db) {
    StoreKind kind = StoreKind::foreign;
    const int status = identifyStore(db, kind);
    if (status != SQLITE_OK) {
        return statusFromSqlite(status);
    }
    return kind == StoreKind::ours || kind == StoreKind::empty ? errorAccessDenied : errorBadDb;
}

// Takes the write lock (waiting for other runs up to the busy timeout) and
// checks, under it, that the file is a store of this schema: another program
// may have replaced it since the connection was opened. An empty file gets
// the schema first.
std::int32_t beginTransaction(StoreConnection& store) {
    sqlite3* db = store.db;
    if (sqlite3_db_readonly(db, "main") != 0) {
        return readOnlyStatus(db);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!execute(db, "BEGIN IMMEDIATE")) {
            return statusFromSqlite(sqlite3_errcode(db));
        }
        StoreKind kind = StoreKind::foreign;
        const int status = identifyStore(db, kind);
        if (status == SQLITE_OK && kind == StoreKind::ours) {
            store.transactionLost = errorSuccess;
            return errorSuccess;
        }
        execute(db, "ROLLBACK");
        if (status != SQLITE_OK) {
            return statusFromSqlite(status);
        }
        if (kind == StoreKind::foreign || attempt > 0) {
            return errorBadDb;
        }
        if (const std::int32_t created = createSchema(db); created != errorSuccess) {
            return created;
        }
    }
    return errorBadDb;
}

// Whether the key's transaction still runs; once SQLite has rolled it back,
// later writes would each be committed on their own, so they are refused.
std::int32_t transactionStatus(StoreConnection& store) {
    if (store.transactionLost == errorSuccess && sqlite3_get_autocommit(store.db) != 0) {
        store.transactionLost = errorRegistryIoFailed;
    }
    return store.transactionLost;
}

// A failed step may have ended the transaction; the failure is kept for the
// key's close.
std::int32_t stepFailure(StoreConnection& store, int result) {
    const std::int32_t status = statusFromSqlite(result);
    if (sqlite3_get_autocommit(store.db) != 0 && store.transactionLost == errorSuccess) {
        store.transactionLost = status;
    }
    return status;
}

std::int32_t commitTransaction(StoreConnection& store) {
    if (const std::int32_t lost = transactionStatus(store); lost != errorSuccess) {
        return lost;
    }
    if (execute(store.db, "COMMIT")) {
        return errorSuccess;
    }
    const std::int32_t failed = statusFromSqlite(sqlite3_errcode(store.db));
    if (sqlite3_get_autocommit(store.db) == 0) {
        execute(store.db, "ROLLBACK");
    }
    return failed;
}

// Splits a sub-key path as the registry does: runs of backslashes separate
// components and a trailing backslash adds nothing.
std::int32_t splitKeyPath(const char* subKey, std::vector<std::string>& components) {
    if (subKey == nullptr) {
        return errorSuccess;
    }
    if (std::strlen(subKey) > maximumSubKeyPathLength) {
        return errorMoreData;
    }
    if (subKey[0] == '\\') {
        return errorBadPathname;
    }
    std::string component;
    for (const char* p = subKey;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!component.empty()) {
                if (component.size() > maximumKeyNameLength) {
                    return errorInvalidParameter;
                }
                components.push_back(component);
                component.clear();
            }
            if (*p == '\0') {
                break;
            }
        } else {
            component.push_back(*p);
        }
    }
    return errorSuccess;
}

// Prepares a statement on first use and keeps it for the life of the connection.
int prepareOnce(sqlite3* db, sqlite3_stmt*& statement, const char* sql) {
    if (statement != nullptr) {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return SQLITE_OK;
    }
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
}

int findOrCreateKey(StoreConnection& store, const std::vector<std::string>& components,
                    sqlite3_int64& id) {
    int status = prepareOnce(store.db, store.findKey,
                             "SELECT id FROM registry_keys WHERE parent = ?1 AND name = ?2");
    if (status == SQLITE_OK) {
        status = prepareOnce(store.db, store.insertKey,
                             "INSERT INTO registry_keys (parent, name) VALUES (?1, ?2)");
    }
    id = rootKeyId;
    for (const std::string& name : components) {
        if (status != SQLITE_OK) {
            break;
        }
        sqlite3_bind_int64(store.findKey, 1, id);
        sqlite3_bind_text(store.findKey, 2, name.data(), static_cast<int>(name.size()),
                          SQLITE_STATIC);
        status = sqlite3_step(store.findKey);
        if (status == SQLITE_ROW) {
            id = sqlite3_column_int64(store.findKey, 0);
            status = SQLITE_OK;
        } else if (status == SQLITE_DONE) {
            sqlite3_bind_int64(store.insertKey, 1, id);
            sqlite3_bind_text(store.insertKey, 2, name.data(), static_cast<int>(name.size()),
                              SQLITE_STATIC);
            status = sqlite3_step(store.insertKey);
            id = sqlite3_last_insert_rowid(store.db);
            status = status == SQLITE_DONE ? SQLITE_OK : status;
            sqlite3_reset(store.insertKey);
        }
        sqlite3_reset(store.findKey);
    }
    return status;
}

// The kept statements may have been left stepped (a query that found nothing
// returns early), so each use starts from a reset one.
void bindValueName(sqlite3_stmt* statement, sqlite3_int64 keyId, const char* valueName) {
    sqlite3_reset(statement);
    sqlite3_bind_int64(statement, 1, keyId);
    sqlite3_bind_text(statement, 2, valueName != nullptr ? valueName : "", -1, SQLITE_STATIC);
}

} // namespace

struct OpenKey {
    StoreConnection* store = nullptr;
    sqlite3_int64 id = 0;
};

std::int32_t openKey(RegistryKey root, const char* subKey, OpenKey*& key) {
    std::vector<std::string> components;
    if (const std::int32_t status = splitKeyPath(subKey, components); status != errorSuccess) {
        return status;
    }
    StoreConnection* store = nullptr;
    if (const std::int32_t status = connectStore(root, store); status != errorSuccess) {
        return status;
    }
    if (store->openKeys == 0) {
        if (const std::int32_t status = beginTransaction(*store); status != errorSuccess) {
            return status;
        }
    } else if (const std::int32_t lost = transactionStatus(*store); lost != errorSuccess) {
        return lost;
    }
    sqlite3_int64 id = 0;
    if (const int status = findOrCreateKey(*store, components, id); status != SQLITE_OK) {
        const std::int32_t failed = stepFailure(*store, status);
        if (store->openKeys == 0 && sqlite3_get_autocommit(store->db) == 0) {
            execute(store->db, "ROLLBACK");
        }
        return failed;
    }
    ++store->openKeys;
    key = new OpenKey{store, id};
    return errorSuccess;
}

std::int32_t queryValue(OpenKey& key, const char* valueName, std::uint32_t* type,
                        std::uint8_t* data, std::uint32_t* byteCount) {
    if (data != nullptr && byteCount == nullptr) {
        return errorInvalidParameter;
    }
    if (const std::int32_t lost = transactionStatus(*key.store); lost != errorSuccess) {
        return lost;
    }
    sqlite3_stmt*& select = key.store->selectValue;
    int status = prepareOnce(key.store->db, select,
                             "SELECT type, data FROM registry_values WHERE key = ?1 AND name = ?2");
    if (status != SQLITE_OK) {
        return statusFromSqlite(status);
    }
    bindValueName(select, key.id, valueName);
    status = sqlite3_step(select);
    if (status == SQLITE_DONE) {
        return errorFileNotFound;
    }
    if (status != SQLITE_ROW) {
        return stepFailure(*key.store, status);
    }
    const auto storedType = static_cast<std::uint32_t>(sqlite3_column_int64(select, 0));
    const void* stored = sqlite3_column_blob(select, 1);
    const auto storedSize = static_cast<std::uint32_t>(sqlite3_column_bytes(select, 1));
    std::int32_t result = errorSuccess;
    if (type != nullptr) {
        *type = storedType;
    }
    if (data != nullptr) {
        if (*byteCount < storedSize) {
            result = errorMoreData;
        } else if (storedSize > 0) {
            std::memcpy(data, stored, storedSize);
        }
    }
    if (byteCount != nullptr) {
        *byteCount = storedSize;
    }
    sqlite3_reset(select);
    return result;
}

std::int32_t setValue(OpenKey& key, const char* valueName, std::uint32_t type,
                      const std::uint8_t* data, std::uint32_t byteCount) {
    if (data == nullptr && byteCount != 0) {
        return errorInvalidParameter;
    }
    if (const std::int32_t lost = transactionStatus(*key.store); lost != errorSuccess) {
        return lost;
    }
    // The name keeps the spelling it was first stored with, as in the registry.
    sqlite3_stmt*& upsert = key.store->upsertValue;
    int status = prepareOnce(key.store->db, upsert,
                             "INSERT INTO registry_values (key, name, type, data)"
                             " VALUES (?1, ?2, ?3, ?4)"
                             " ON CONFLICT (key, name) DO UPDATE SET"
                             " type = excluded.type, data = excluded.data");
    if (status != SQLITE_OK) {
        return statusFromSqlite(status);
    }
    bindValueName(upsert, key.id, valueName);
    sqlite3_bind_int64(upsert, 3, type);
    sqlite3_bind_blob(upsert, 4, data != nullptr ? data : reinterpret_cast<const std::uint8_t*>(""),
                      static_cast<int>(byteCount), SQLITE_STATIC);
    status = sqlite3_step(upsert);
    sqlite3_reset(upsert);
    return status == SQLITE_DONE ? errorSuccess : stepFailure(*key.store, status);
}

std::int32_t deleteValue(OpenKey& key, const char* valueName) {
    if (const std::int32_t lost = transactionStatus(*key.store); lost != errorSuccess) {
        return lost;
    }
    sqlite3_stmt*& remove = key.store->deleteValue;
    int status = prepareOnce(key.store->db, remove,
                             "DELETE FROM registry_values WHERE key = ?1 AND name = ?2");
    if (status != SQLITE_OK) {
        return statusFromSqlite(status);
    }
    bindValueName(remove, key.id, valueName);
    status = sqlite3_step(remove);
    sqlite3_reset(remove);
    if (status != SQLITE_DONE) {
        return stepFailure(*key.store, status);
    }
    return sqlite3_changes(key.store->db) > 0 ? errorSuccess : errorFileNotFound;
}

std::int32_t closeKey(OpenKey* key) {
    StoreConnection& store = *key->store;
    delete key;
    if (--store.openKeys > 0) {
        return errorSuccess;
    }
    return commitTransaction(store);
}

} // namespace qoramark::store
