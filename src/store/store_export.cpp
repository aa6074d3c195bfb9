#include "store/store_export.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include <sqlite3.h>
#include <sys/stat.h>

#include "store/store_location.h"

namespace qoramark::store {

using namespace platform;

namespace {

// Hex data lines are wrapped once they reach this width, as exports do.
constexpr std::size_t hexLineWidth = 77;

struct StoredKey {
    sqlite3_int64 id = 0;
    std::string name;
};

struct StoredValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;
};

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return upperAscii(x) == upperAscii(y);
           });
}

// Keys and values are listed in the registry's order: names compared with
// ASCII letters folded to upper case.
bool precedes(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(upperAscii(x)) <
               static_cast<unsigned char>(upperAscii(y));
    });
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return bytes != nullptr ? std::string(bytes, sqlite3_column_bytes(statement, column))
                            : std::string();
}

class StoreReader {
  public:
    ~StoreReader() {
        sqlite3_finalize(children_);
        sqlite3_finalize(values_);
        sqlite3_close(db_);
    }

    std::int32_t open(RegistryKey root) {
        struct stat info {};
        const std::string path = storePath(root);
        if (stat(path.c_str(), &info) != 0) {
            return errorFileNotFound;
        }
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            return errorAccessDenied;
        }
        sqlite3_busy_timeout(db_, 30000);
        if (integer("PRAGMA application_id") != storeApplicationId ||
            integer("PRAGMA user_version") != storeSchemaVersion) {
            return errorBadDb;
        }
        if (sqlite3_prepare_v2(db_, "SELECT id, name FROM registry_keys WHERE parent = ?1", -1,
                               &children_, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db_, "SELECT name, type, data FROM registry_values WHERE key = ?1",
                               -1, &values_, nullptr) != SQLITE_OK) {
            return errorBadDb;
        }
        return errorSuccess;
    }

    std::vector<StoredKey> children(sqlite3_int64 id) {
        std::vector<StoredKey> found;
        sqlite3_bind_int64(children_, 1, id);
        while (sqlite3_step(children_) == SQLITE_ROW) {
            found.push_back({sqlite3_column_int64(children_, 0), columnText(children_, 1)});
        }
        sqlite3_reset(children_);
        std::sort(found.begin(), found.end(),
                  [](const StoredKey& a, const StoredKey& b) { return precedes(a.name, b.name); });
        return found;
    }

    std::vector<StoredValue> values(sqlite3_int64 id) {
        std::vector<StoredValue> found;
        sqlite3_bind_int64(values_, 1, id);
        while (sqlite3_step(values_) == SQLITE_ROW) {
            found.push_back({columnText(values_, 0),
                             static_cast<std::uint32_t>(sqlite3_column_int64(values_, 1)),
                             columnText(values_, 2)});
        }
        sqlite3_reset(values_);
        std::sort(found.begin(), found.end(), [](const StoredValue& a, const StoredValue& b) {
            return precedes(a.name, b.name);
        });
        return found;
    }

  private:
    sqlite3_int64 integer(const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_int64 result = -1;
        if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            result = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
        return result;
    }

    sqlite3* db_ = nullptr;
    sqlite3_stmt* children_ = nullptr;
    sqlite3_stmt* values_ = nullptr;
};

constexpr sqlite3_int64 rootKeyId = 1;

// Appends the text in double quotes, with the escapes export files use.
void appendQuoted(std::string& line, const std::string& text) {
    line += '"';
    for (const char c : text) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '"':
            line += "\\\"";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\0':
            line += "\\0";
            break;
        default:
            line += c;
        }
    }
    line += '"';
}

std::string hexData(const StoredValue& value, std::size_t lineLength) {
    char prefix[24];
    if (value.type == 3) {
        std::snprintf(prefix, sizeof prefix, "hex:");
    } else {
        std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
    }
    std::string text = prefix;
    lineLength += text.size();
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(value.data[i]));
        text += byte;
        if (i + 1 == value.data.size()) {
            break;
        }
        text += ',';
        lineLength += 3;
        if (lineLength >= hexLineWidth) {
            text += "\\\n  ";
            lineLength = 2;
        }
    }
    return text;
}

std::string valueLine(const StoredValue& value) {
    std::string line;
    if (value.name.empty()) {
        line += '@';
    } else {
        appendQuoted(line, value.name);
    }
    line += '=';
    if (value.type == regSz) {
        std::string text = value.data;
        if (!text.empty() && text.back() == '\0') {
            text.pop_back();
        }
        appendQuoted(line, text);
    } else if (value.type == regDword && value.data.size() == 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(value.data.data());
        char number[16];
        std::snprintf(number, sizeof number, "dword:%08x",
                      static_cast<unsigned>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24));
        line += number;
    } else {
        line += hexData(value, line.size());
    }
    line += '\n';
    return line;
}

void exportKey(StoreReader& reader, const StoredKey& key, const std::string& path,
               std::string& text) {
    text += "\n[" + path + "]\n";
    for (const StoredValue& value : reader.values(key.id)) {
        text += valueLine(value);
    }
    for (const StoredKey& child : reader.children(key.id)) {
        exportKey(reader, child, path + "\\" + child.name, text);
    }
}

} // namespace

bool parseExportPath(const std::string& text, ExportPath& exportPath) {
    const std::size_t slash = text.find('\\');
    const std::string root = text.substr(0, slash);
    if (equalIgnoringAsciiCase(root, "HKCU") || equalIgnoringAsciiCase(root, "HKEY_CURRENT_USER")) {
        exportPath.root = currentUserRoot;
        exportPath.rootName = "HKEY_CURRENT_USER";
    } else if (equalIgnoringAsciiCase(root, "HKLM") ||
               equalIgnoringAsciiCase(root, "HKEY_LOCAL_MACHINE")) {
        exportPath.root = localMachineRoot;
        exportPath.rootName = "HKEY_LOCAL_MACHINE";
    } else {
        return false;
    }
    exportPath.path = slash == std::string::npos ? "" : text.substr(slash + 1);
    return true;
}

std::string exportHeader() {
    return "Windows Registry Editor Version 5.00\n";
}

std::int32_t exportKeyTree(const ExportPath& exportPath, std::string& text) {
    StoreReader reader;
    if (const std::int32_t status = reader.open(exportPath.root); status != errorSuccess) {
        return status;
    }
    StoredKey key{rootKeyId, ""};
    std::string shownPath = exportPath.rootName;
    std::size_t start = 0;
    while (start <= exportPath.path.size()) {
        std::size_t end = exportPath.path.find('\\', start);
        if (end == std::string::npos) {
            end = exportPath.path.size();
        }
        const std::string component = exportPath.path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) {
            continue;
        }
        const std::vector<StoredKey> children = reader.children(key.id);
        const auto found = std::find_if(children.begin(), children.end(), [&](const StoredKey& k) {
            return equalIgnoringAsciiCase(k.name, component);
        });
        if (found == children.end()) {
            return errorFileNotFound;
        }
        key = *found;
        shownPath += "\\" + key.name;
    }
    exportKey(reader, key, shownPath, text);
    return errorSuccess;
}

} // namespace qoramark::store
