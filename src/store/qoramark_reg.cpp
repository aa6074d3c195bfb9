// qoramark-reg export [ROOT\path]: prints keys and values of the store
// in the text form of registry export files.

#include <cstdio>
#include <string>
#include <vector>

#include "store/store_export.h"

namespace {

using namespace qoramark::platform;
using namespace qoramark::store;

constexpr const char* defaultPath = "Software\\QORA";

int usage() {
    std::fputs("usage: qoramark-reg export [ROOT\\path]\n"
               "  ROOT: HKCU / HKEY_CURRENT_USER / HKLM / HKEY_LOCAL_MACHINE\n"
               "  without a path: both roots, Software\\QORA\n",
               stderr);
    return 2;
}

int exportPaths(const std::vector<ExportPath>& paths, bool missingIsError) {
    std::string text = exportHeader();
    for (const ExportPath& path : paths) {
        const std::int32_t status = exportKeyTree(path, text);
        if (status == errorFileNotFound && !missingIsError) {
            continue;
        }
        if (status != errorSuccess) {
            std::fprintf(stderr, "qoramark-reg: %s\\%s: %s\n", path.rootName.c_str(),
                         path.path.c_str(),
                         status == errorFileNotFound ? "no such key"
                         : status == errorBadDb      ? "not a qoramark store"
                                                     : "cannot read the store");
            return 1;
        }
    }
    text += "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) != "export") {
        return usage();
    }
    if (argc == 3) {
        ExportPath path;
        if (!parseExportPath(argv[2], path)) {
            return usage();
        }
        return exportPaths({path}, true);
    }
    ExportPath currentUser;
    ExportPath localMachine;
    parseExportPath(std::string("HKEY_CURRENT_USER\\") + defaultPath, currentUser);
    parseExportPath(std::string("HKEY_LOCAL_MACHINE\\") + defaultPath, localMachine);
    return exportPaths({currentUser, localMachine}, false);
}
