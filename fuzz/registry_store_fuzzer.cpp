// The POSIX store's handling of key paths and value names: a key created at
// an odd path, a value of odd name and bytes set, read back, deleted, and the
// key exported, all against a store in a folder of the fuzzer's own.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/registry.h"
#include "store/store_export.h"
#include "store/store_location.h"

namespace {

using namespace qoramark::platform;
using namespace qoramark::store;

std::string fuzzFolder;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void removeStore() {
    for (const char* suffix : {"", "-wal", "-shm"}) {
        unlink((storePath(currentUserRoot) + suffix).c_str());
    }
    rmdir(fuzzFolder.c_str());
}

std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

void checkValueRoundTrip(RegistryKey key, const std::string& name, std::uint32_t type,
                         const std::string& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto size = static_cast<std::uint32_t>(bytes.size());
    check(setRegistryValue(key, name.c_str(), 0, type, data, size) == errorSuccess);

    std::uint32_t storedType = 0;
    std::uint32_t storedSize = 0;
    check(queryRegistryValue(key, name.c_str(), nullptr, &storedType, nullptr, &storedSize) ==
          errorSuccess);
    check(storedType == type && storedSize == size);

    // Names match without regard to ASCII case.
    std::vector<std::uint8_t> buffer(size + 1, 0xEE);
    std::uint32_t bufferSize = size;
    check(queryRegistryValue(key, upperAscii(name).c_str(), nullptr, nullptr, buffer.data(),
                             &bufferSize) == errorSuccess);
    check(bufferSize == size && std::memcmp(buffer.data(), data, size) == 0);
    check(buffer[size] == 0xEE);
    if (size > 0) {
        bufferSize = size - 1;
        check(queryRegistryValue(key, name.c_str(), nullptr, nullptr, buffer.data(), &bufferSize) ==
              errorMoreData);
        check(bufferSize == size);
    }

    check(deleteRegistryValue(key, name.c_str()) == errorSuccess);
    check(queryRegistryValue(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
          errorFileNotFound);
    check(deleteRegistryValue(key, name.c_str()) == errorFileNotFound);
    check(setRegistryValue(key, name.c_str(), 0, type, data, size) == errorSuccess);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/qoramark-fuzz-XXXXXX";
    check(mkdtemp(folder) != nullptr);
    fuzzFolder = folder;
    setenv("QORAMARK_REGISTRY_DIR", folder, 1);
    std::atexit(removeStore);
    return 0;
}

// Input: the value type (one byte), the sub-key path and the value name ending
// at zero bytes, then the value's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint32_t type = data[0];
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t pathEnd = std::min(input.find('\0'), input.size());
    const std::string subKey = input.substr(0, pathEnd);
    const std::size_t nameStart = std::min(pathEnd + 1, input.size());
    const std::size_t nameEnd = std::min(input.find('\0', nameStart), input.size());
    const std::string name = input.substr(nameStart, nameEnd - nameStart);
    const std::string bytes = input.substr(std::min(nameEnd + 1, input.size()));

    RegistryKey key = 0;
    const std::int32_t status = createRegistryKey(currentUserRoot, subKey.c_str(), 0, "", 0,
                                                  keyAllAccess, nullptr, &key, nullptr);
    check(status == errorSuccess || status == errorInvalidParameter || status == 161 ||
          status == errorMoreData);
    if (status != errorSuccess) {
        return 0;
    }
    checkValueRoundTrip(key, name, type, bytes);
    check(closeRegistryKey(key) == errorSuccess);

    ExportPath exportPath;
    check(parseExportPath("HKCU\\" + subKey, exportPath));
    std::string text;
    check(exportKeyTree(exportPath, text) == errorSuccess);
    return 0;
}
