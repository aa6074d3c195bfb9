#pragma once

#include <cstdint>
#include <string>

namespace qoramark {

// The two predefined registry roots a run can write under, by their Win32 values.
enum class RootKey : std::uint32_t {
    currentUser = 0x80000001u,
    localMachine = 0x80000002u,
};

// What the command line asked for; filled once by interpretCommandLine.
struct RunSettings {
    std::string rootKeyName;
    std::string appName;
    std::string appVersion;
    std::string setupFile;
    std::string setupVersion;
    std::string syslogHost;
    bool writeSetupDate = false;
    bool writeRunDate = false;
    bool updateRunCount = false;
    bool writeSamName = false;
    bool writeNdsName = false;
    bool localLog = false;
    bool sendSyslog = false;
    RootKey rootKey = RootKey::currentUser;
};

// What the run found out; every field has exactly one phase that sets it.
struct RunFacts {
    std::int32_t setupTime = 0;
    std::string setupDateString;
    std::int32_t runTime = 0;
    std::string runDateString;
    std::string samName;
    std::string ndsName;
    std::string macAddress;
    std::string ipAddress;
    std::uint32_t runCount = 0;
};

} // namespace qoramark
