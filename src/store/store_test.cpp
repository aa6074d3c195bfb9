#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/store.h"
#include "store/store_export.h"
#include "store/store_location.h"

namespace qoramark::store {

using namespace platform;
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Store : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qoramark-store-XXXXXX";
        folder_ = mkdtemp(pattern);
        setenv("QORAMARK_REGISTRY_DIR", folder_.c_str(), 1);
    }
    void TearDown() override {
        closeAll();
        unsetenv("QORAMARK_REGISTRY_DIR");
        fs::remove_all(folder_);
    }

    std::int32_t create(const std::string& path, RegistryKey root = currentUserRoot) {
        OpenKey* key = nullptr;
        const std::int32_t status = openKey(root, path.c_str(), key);
        if (status == errorSuccess) {
            open_.push_back(key);
        }
        return status;
    }
    OpenKey& key(const std::string& path) {
        EXPECT_EQ(create(path), errorSuccess);
        return *open_.back();
    }
    std::int32_t setText(OpenKey& k, const char* name, const std::string& text) {
        return setValue(k, name, regSz, reinterpret_cast<const std::uint8_t*>(text.c_str()),
                        static_cast<std::uint32_t>(text.size() + 1));
    }
    void closeAll() {
        for (OpenKey* key : open_) {
            EXPECT_EQ(closeKey(key), errorSuccess);
        }
        open_.clear();
    }
    // What another reader sees once the keys are closed, and so committed.
    std::string exported(const std::string& path) {
        closeAll();
        ExportPath target;
        EXPECT_TRUE(parseExportPath(path, target));
        std::string text;
        EXPECT_EQ(exportKeyTree(target, text), errorSuccess);
        return text;
    }

    fs::path folder_;
    std::vector<OpenKey*> open_;
};

TEST_F(Store, ValuesRoundTripWithTheRegistrysStatuses) {
    OpenKey& k = key("Software\\QORA\\Installed\\App");
    ASSERT_EQ(setText(k, "currentversion", "1.0"), errorSuccess);

    std::uint32_t type = 0;
    std::uint32_t count = 128;
    EXPECT_EQ(queryValue(k, "currentversion", &type, nullptr, &count), errorSuccess);
    EXPECT_EQ(type, regSz);
    EXPECT_EQ(count, 4u);

    std::uint8_t small[2] = {};
    count = sizeof small;
    EXPECT_EQ(queryValue(k, "currentversion", nullptr, small, &count), errorMoreData);
    EXPECT_EQ(count, 4u);

    std::uint8_t buffer[8] = {};
    count = sizeof buffer;
    EXPECT_EQ(queryValue(k, "currentversion", nullptr, buffer, &count), errorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), std::string("1.0\0", 4));

    EXPECT_EQ(queryValue(k, "missing", nullptr, nullptr, &count), errorFileNotFound);
    EXPECT_EQ(deleteValue(k, "missing"), errorFileNotFound);
    EXPECT_EQ(deleteValue(k, "currentversion"), errorSuccess);
    EXPECT_EQ(queryValue(k, "currentversion", nullptr, nullptr, &count), errorFileNotFound);
}

// Statements are kept for the whole run, so a query that found nothing must not
// leave the next query reading the earlier name.
TEST_F(Store, QueryAfterAMissingValueFindsTheNextName) {
    OpenKey& k = key("Software\\QORA\\Installed\\App\\1.0");
    ASSERT_EQ(setText(k, "RunCount", "abc"), errorSuccess);
    std::uint32_t count = 4;
    ASSERT_EQ(queryValue(k, "currentversion", nullptr, nullptr, &count), errorFileNotFound);
    std::uint8_t buffer[4] = {};
    count = sizeof buffer;
    EXPECT_EQ(queryValue(k, "RunCount", nullptr, buffer, &count), errorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), std::string("abc\0", 4));
}

TEST_F(Store, ProbeOf128And129BytesReportsTheSize) {
    OpenKey& k = key("Software\\QORA");
    setText(k, "v128", std::string(127, 'a'));
    setText(k, "v129", std::string(128, 'b'));
    std::uint8_t buffer[128];
    std::uint32_t count = 128;
    EXPECT_EQ(queryValue(k, "v128", nullptr, buffer, &count), errorSuccess);
    EXPECT_EQ(count, 128u);
    count = 128;
    EXPECT_EQ(queryValue(k, "v129", nullptr, nullptr, &count), errorSuccess);
    EXPECT_EQ(count, 129u);
    count = 128;
    EXPECT_EQ(queryValue(k, "v129", nullptr, buffer, &count), errorMoreData);
}

TEST_F(Store, NamesMatchWithoutRegardToAsciiCaseAndKeepTheirFirstSpelling) {
    OpenKey& first = key("Software\\QORA\\Installed\\App\\1.2.1.EN");
    setText(first, "RunCount", "x");
    OpenKey& second = key("SOFTWARE\\qora\\installed\\APP\\1.2.1.en");
    const std::uint32_t number = 7;
    EXPECT_EQ(
        setValue(second, "RUNCOUNT", regDword, reinterpret_cast<const std::uint8_t*>(&number), 4),
        errorSuccess);
    setText(second, "\xC4pfel", "upper");
    setText(second, "\xE4pfel", "lower"); // bytes from 0x80 up compare as they are

    EXPECT_EQ(exported("HKCU\\software\\qora\\installed\\app"),
              "\n[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App]\n"
              "\n[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\1.2.1.EN]\n"
              "\"RunCount\"=dword:00000007\n"
              "\"\xC4pfel\"=\"upper\"\n"
              "\"\xE4pfel\"=\"lower\"\n");
}

struct OddPath {
    const char* label;
    std::string path;
    std::int32_t status;
    std::string sameKeyAs; // when the path opens an existing key
};

void PrintTo(const OddPath& c, std::ostream* os) {
    *os << c.label;
}

class OddPaths : public Store, public testing::WithParamInterface<OddPath> {};

TEST_P(OddPaths, GiveTheStatusWineGives) {
    const OddPath& c = GetParam();
    OpenKey& marked = key("Software\\A\\B");
    setText(marked, "mark", "here");
    EXPECT_EQ(create(c.path), c.status);
    if (!c.sameKeyAs.empty()) {
        std::uint32_t count = 0;
        EXPECT_EQ(queryValue(*open_.back(), "mark", nullptr, nullptr, &count), errorSuccess);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Store, OddPaths,
    testing::Values(OddPath{"component of 255", "S\\" + std::string(255, 'x'), 0, ""},
                    OddPath{"component of 256", "S\\" + std::string(256, 'x'), 87, ""},
                    OddPath{"path of 260", "Software\\" + std::string(251, 'x'), 0, ""},
                    OddPath{"path of 261", "Software\\" + std::string(252, 'x'), 234, ""},
                    OddPath{"doubled backslash", "Software\\A\\\\B", 0, "Software\\A\\B"},
                    OddPath{"trailing backslash", "Software\\A\\B\\", 0, "Software\\A\\B"},
                    OddPath{"leading backslash", "\\Software\\A\\B", 161, ""}));

class ForeignFile : public Store {
  protected:
    void expectUntouched(const std::string& before) {
        EXPECT_EQ(create("Software\\QORA"), errorBadDb);
        EXPECT_EQ(readFile(folder_ / "HKCU.db"), before);
        ExportPath target;
        parseExportPath("HKCU\\Software", target);
        std::string text;
        EXPECT_EQ(exportKeyTree(target, text), errorBadDb);
        EXPECT_EQ(readFile(folder_ / "HKCU.db"), before);
    }
};

TEST_F(ForeignFile, TextFileIsBadDbAndUnchanged) {
    const std::string text = "not a database\n" + std::string(5000, 'z');
    std::ofstream(folder_ / "HKCU.db", std::ios::binary) << text;
    expectUntouched(text);
}

TEST_F(ForeignFile, OtherSqliteDatabaseIsBadDbAndUnchanged) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "HKCU.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t (x); INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    expectUntouched(readFile(folder_ / "HKCU.db"));
}

TEST_F(ForeignFile, StoreOfANewerSchemaIsBadDbAndUnchanged) {
    key("Software");
    closeAll();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "HKCU.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version=2; PRAGMA journal_mode=DELETE", nullptr, nullptr,
                 nullptr);
    sqlite3_close(db);
    expectUntouched(readFile(folder_ / "HKCU.db"));
}

// The values and keys another connection sees in the store file.
std::string committedRows(const fs::path& file) {
    sqlite3* db = nullptr;
    std::string rows;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db,
                           "SELECT name FROM registry_keys WHERE id > 1"
                           " UNION ALL SELECT name FROM registry_values ORDER BY 1",
                           -1, &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            rows += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            rows += ' ';
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

TEST_F(Store, AKeysWritesAreSeenByOthersOnlyOnceItIsClosed) {
    OpenKey& k = key("Software\\App");
    setText(k, "One", "1");
    setText(k, "Two", "2");
    EXPECT_EQ(committedRows(folder_ / "HKCU.db"), "");

    closeAll();
    EXPECT_EQ(committedRows(folder_ / "HKCU.db"), "App One Software Two ");
}

// Runs the steps in a child process of their own, as a run of the program,
// which ends by being killed when asked to.
void runInChild(void (*steps)(), bool killed) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        steps();
        if (killed) {
            raise(SIGKILL);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(killed, WIFSIGNALED(status));
}

TEST_F(Store, ARunKilledWithKeysOpenLeavesNoneOfTheirWrites) {
    runInChild(
        [] {
            OpenKey* k = nullptr;
            if (openKey(currentUserRoot, "Software\\App", k) == errorSuccess) {
                setValue(*k, "One", regSz, reinterpret_cast<const std::uint8_t*>("old"), 4);
                closeKey(k);
            }
        },
        false);
    runInChild(
        [] {
            OpenKey* app = nullptr;
            OpenKey* version = nullptr;
            if (openKey(currentUserRoot, "Software\\App", app) == errorSuccess &&
                openKey(currentUserRoot, "Software\\App\\1.0", version) == errorSuccess) {
                deleteValue(*app, "One");
                setValue(*version, "Two", regSz, reinterpret_cast<const std::uint8_t*>("2"), 2);
            }
        },
        true);

    EXPECT_EQ(committedRows(folder_ / "HKCU.db"), "App One Software ");
    std::uint8_t buffer[8] = {};
    std::uint32_t count = sizeof buffer;
    EXPECT_EQ(queryValue(key("Software\\App"), "One", nullptr, buffer, &count), errorSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), count), std::string("old\0", 4));
}

// The store's files may grow by nothing more, so the commit at the close
// cannot write its journal.
class StoreThatCannotGrow : public Store {
  protected:
    void SetUp() override {
        Store::SetUp();
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
    }
    void TearDown() override {
        setrlimit(RLIMIT_FSIZE, &saved_);
        Store::TearDown();
    }
    void stopGrowth() {
        rlimit limit = saved_;
        limit.rlim_cur = fs::file_size(folder_ / "HKCU.db-wal");
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    void allowGrowth() { setrlimit(RLIMIT_FSIZE, &saved_); }

    rlimit saved_{};
};

TEST_F(StoreThatCannotGrow, ACommitThatFailsAtTheCloseIsReportedAndKeepsNothing) {
    key("Software");
    closeAll();
    OpenKey* k = nullptr;
    ASSERT_EQ(openKey(currentUserRoot, "Software\\App\\1.0", k), errorSuccess);
    ASSERT_EQ(setText(*k, "SetupVersion", "7"), errorSuccess);
    stopGrowth();

    EXPECT_NE(closeKey(k), errorSuccess);

    allowGrowth();
    EXPECT_EQ(committedRows(folder_ / "HKCU.db"), "Software ");
    // The connection goes on with the next key.
    OpenKey& next = key("Software\\Other");
    EXPECT_EQ(setText(next, "x", "y"), errorSuccess);
    closeAll();
    EXPECT_EQ(committedRows(folder_ / "HKCU.db"), "Other Software x ");
}

TEST_F(Store, NewStoreRecordsItsSchemaAndUsesWal) {
    key("Software");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((folder_ / "HKCU.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    auto pragma = [db](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
        sqlite3_step(statement);
        std::string result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        return result;
    };
    EXPECT_EQ(pragma("PRAGMA application_id"), std::to_string(storeApplicationId));
    EXPECT_EQ(pragma("PRAGMA user_version"), std::to_string(storeSchemaVersion));
    EXPECT_EQ(pragma("PRAGMA journal_mode"), "wal");
    sqlite3_close(db);
}

TEST_F(Store, FolderThatCannotBeMadeIsAccessDenied) {
    std::ofstream(folder_ / "plain-file") << "x";
    setenv("QORAMARK_REGISTRY_DIR", (folder_ / "plain-file" / "store").c_str(), 1);
    EXPECT_EQ(create("Software\\QORA", localMachineRoot), errorAccessDenied);
}

TEST_F(Store, LocalMachineStoreIsReadableByAllAndWritableByItsOwner) {
    setenv("QORAMARK_REGISTRY_DIR", (folder_ / "lm").c_str(), 1);
    ASSERT_EQ(create("Software", localMachineRoot), errorSuccess);
    EXPECT_EQ(fs::status(folder_ / "lm").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(folder_ / "lm" / "HKLM.db").permissions(), fs::perms(0644));
}

TEST_F(Store, ExportShowsValuesInRegistryFileForm) {
    OpenKey& k = key("Software\\QORA\\Installed\\Zed");
    key("Software\\QORA\\Installed\\alpha");
    key("Software\\QORA\\Installed\\_under");
    setText(k, "Quote", "a \"b\" c:\\d");
    setText(k, "", "default");
    const std::string bytes(30, '\x01');
    setValue(k, "Bin", 3, reinterpret_cast<const std::uint8_t*>(bytes.data()), 30);
    setValue(k, "Eight", 11,
             reinterpret_cast<const std::uint8_t*>("\x01\x02\x03\x04\x05\x06\x07\x08"), 8);

    EXPECT_EQ(
        exported("HKEY_CURRENT_USER\\Software\\QORA\\Installed"),
        "\n[HKEY_CURRENT_USER\\Software\\QORA\\Installed]\n"
        "\n[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\alpha]\n"
        "\n[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Zed]\n"
        "@=\"default\"\n"
        "\"Bin\"=hex:01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,\\\n"
        "  01,01,01,01,01,01,01\n"
        "\"Eight\"=hex(b):01,02,03,04,05,06,07,08\n"
        "\"Quote\"=\"a \\\"b\\\" c:\\\\d\"\n"
        "\n[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\_under]\n");
}

} // namespace
} // namespace qoramark::store
