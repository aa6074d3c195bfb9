#include "support/registry_fake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qoramark::platform::fake {

namespace {

constexpr RegistryKey firstHandle = 0x1000;

std::string folded(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

struct Key {
    std::map<std::string, Value> values; // by folded name
};

struct State {
    std::map<std::string, Key> keys; // by root and folded path
    std::map<RegistryKey, std::string> open;
    std::map<std::string, std::int32_t> createFailures;
    std::map<std::string, std::int32_t> setFailures;
    std::map<std::string, std::int32_t> readFailures;
    std::map<std::string, std::int32_t> closeFailures; // by root and folded path
    std::vector<std::string> calls;
    RegistryKey nextHandle = firstHandle;
    int mostOpen = 0;
};

State& state() {
    static State instance;
    return instance;
}

std::string rootName(RegistryKey root) {
    return root == currentUserRoot ? "HKCU" : root == localMachineRoot ? "HKLM" : "?";
}

// Runs of backslashes separate components and a trailing one adds nothing.
std::string keyId(RegistryKey root, const std::string& keyPath) {
    std::string id = rootName(root);
    std::string component;
    for (std::size_t i = 0; i <= keyPath.size(); ++i) {
        if (i == keyPath.size() || keyPath[i] == '\\') {
            if (!component.empty()) {
                id += "\\" + folded(component);
            }
            component.clear();
        } else {
            component += keyPath[i];
        }
    }
    return id;
}

std::string quoted(const char* text) {
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

std::string pointer(const void* p) {
    return p == nullptr ? "null" : "ptr";
}

std::string hex(const std::uint8_t* data, std::uint32_t count) {
    if (data == nullptr) {
        return "null";
    }
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        text += byte;
    }
    return text;
}

Key* openKey(RegistryKey key) {
    const auto found = state().open.find(key);
    return found == state().open.end() ? nullptr : &state().keys[found->second];
}

void createParents(const std::string& id) {
    for (std::size_t slash = id.find('\\'); slash != std::string::npos;
         slash = id.find('\\', slash + 1)) {
        state().keys[id.substr(0, slash)];
    }
    state().keys[id];
}

} // namespace

void reset() {
    state() = State{};
}

std::vector<std::string> calls() {
    return state().calls;
}

int mostOpenKeys() {
    return state().mostOpen;
}

void putValue(RegistryKey root, const std::string& keyPath, const std::string& name,
              std::uint32_t type, const std::string& data) {
    const std::string id = keyId(root, keyPath);
    createParents(id);
    state().keys[id].values[folded(name)] = Value{name, type, data};
}

bool hasKey(RegistryKey root, const std::string& keyPath) {
    return state().keys.count(keyId(root, keyPath)) != 0;
}

Value value(RegistryKey root, const std::string& keyPath, const std::string& name) {
    const auto key = state().keys.find(keyId(root, keyPath));
    if (key == state().keys.end()) {
        return Value{};
    }
    const auto found = key->second.values.find(folded(name));
    return found == key->second.values.end() ? Value{} : found->second;
}

void failCreate(const std::string& keyPath, std::int32_t status) {
    state().createFailures[folded(keyPath)] = status;
}

void failSet(const std::string& valueName, std::int32_t status) {
    state().setFailures[folded(valueName)] = status;
}

void failRead(const std::string& valueName, std::int32_t status) {
    state().readFailures[folded(valueName)] = status;
}

void failClose(RegistryKey root, const std::string& keyPath, std::int32_t status) {
    state().closeFailures[keyId(root, keyPath)] = status;
}

} // namespace qoramark::platform::fake

namespace qoramark::platform {

using namespace fake;

std::int32_t createRegistryKey(RegistryKey root, const char* subKey, std::uint32_t reserved,
                               const char* keyClass, std::uint32_t options, std::uint32_t access,
                               const SecurityAttributes* securityAttributes, RegistryKey* key,
                               std::uint32_t* disposition) {
    char fixed[64];
    std::snprintf(fixed, sizeof fixed, " %u %s %u 0x%x %s %s", reserved, quoted(keyClass).c_str(),
                  options, access, pointer(securityAttributes).c_str(),
                  pointer(disposition).c_str());
    state().calls.push_back("create " + rootName(root) + " " + quoted(subKey) + fixed);
    const std::string path = subKey != nullptr ? subKey : "";
    if (const auto failure = state().createFailures.find(folded(path));
        failure != state().createFailures.end()) {
        return failure->second;
    }
    const std::string id = keyId(root, path);
    createParents(id);
    *key = state().nextHandle++;
    state().open[*key] = id;
    state().mostOpen = std::max(state().mostOpen, static_cast<int>(state().open.size()));
    return errorSuccess;
}

std::int32_t queryRegistryValue(RegistryKey key, const char* valueName, std::uint32_t* reserved,
                                std::uint32_t* type, std::uint8_t* data, std::uint32_t* byteCount) {
    state().calls.push_back("query " + quoted(valueName) + " " + pointer(data) + " " +
                            (byteCount != nullptr ? std::to_string(*byteCount) : "null"));
    Key* opened = openKey(key);
    if (opened == nullptr) {
        return 6;
    }
    if (reserved != nullptr || valueName == nullptr) {
        return errorInvalidParameter;
    }
    if (const auto failure = state().readFailures.find(folded(valueName));
        data != nullptr && failure != state().readFailures.end()) {
        return failure->second;
    }
    const auto found = opened->values.find(folded(valueName));
    if (found == opened->values.end()) {
        return errorFileNotFound;
    }
    const Value& stored = found->second;
    const auto size = static_cast<std::uint32_t>(stored.data.size());
    if (type != nullptr) {
        *type = stored.type;
    }
    std::int32_t status = errorSuccess;
    if (data != nullptr) {
        if (*byteCount < size) {
            status = errorMoreData;
        } else {
            std::memcpy(data, stored.data.data(), size);
        }
    }
    if (byteCount != nullptr) {
        *byteCount = size;
    }
    return status;
}

std::int32_t setRegistryValue(RegistryKey key, const char* valueName, std::uint32_t reserved,
                              std::uint32_t type, const std::uint8_t* data,
                              std::uint32_t byteCount) {
    std::string line = "set " + quoted(valueName) + " " + std::to_string(reserved) + " " +
                       std::to_string(type) + " " + std::to_string(byteCount) + " ";
    line += type == regSz && data != nullptr && byteCount > 0
                ? "\"" + std::string(reinterpret_cast<const char*>(data), byteCount - 1) + "\"" +
                      (data[byteCount - 1] == 0 ? "+0" : "+?")
                : hex(data, byteCount);
    state().calls.push_back(line);
    Key* opened = openKey(key);
    if (opened == nullptr) {
        return 6;
    }
    if (const auto failure = state().setFailures.find(folded(valueName));
        failure != state().setFailures.end()) {
        return failure->second;
    }
    Value& stored = opened->values[folded(valueName)];
    if (stored.name.empty()) {
        stored.name = valueName;
    }
    stored.type = type;
    stored.data.assign(reinterpret_cast<const char*>(data), byteCount);
    return errorSuccess;
}

std::int32_t deleteRegistryValue(RegistryKey key, const char* valueName) {
    state().calls.push_back("delete " + quoted(valueName));
    Key* opened = openKey(key);
    if (opened == nullptr) {
        return 6;
    }
    return opened->values.erase(folded(valueName)) != 0 ? errorSuccess : errorFileNotFound;
}

std::int32_t closeRegistryKey(RegistryKey key) {
    state().calls.push_back("close");
    const auto opened = state().open.find(key);
    if (opened == state().open.end()) {
        return 6;
    }
    const auto failure = state().closeFailures.find(opened->second);
    state().open.erase(opened);
    return failure != state().closeFailures.end() ? failure->second : errorSuccess;
}

} // namespace qoramark::platform
