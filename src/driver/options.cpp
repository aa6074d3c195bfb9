#include "driver/options.h"

#include "platform/message_box.h"

namespace qoramark {

namespace {

const char* const unknownName = "<unknown>";

// Option letters, tried in this order; the first one that takes the entry decides.
bool applyOption(const CommandLineEntry& entry, RunSettings& settings) {
    const std::string& option = entry.option;
    const std::string& value = entry.value;
    if (option == "s" && !value.empty()) {
        settings.writeSetupDate = true;
        settings.setupFile = value;
    } else if (option == "l") {
        settings.localLog = true;
    } else if (option == "L") {
        settings.sendSyslog = true;
        settings.syslogHost = value;
    } else if (option == "r") {
        settings.writeRunDate = true;
    } else if (option == "c") {
        settings.updateRunCount = true;
    } else if (option == "n") {
        settings.writeNdsName = true;
    } else if (option == "u") {
        settings.writeSamName = true;
    } else if (option == "v" && !value.empty()) {
        settings.setupVersion = value;
    } else {
        return false;
    }
    return true;
}

// A slot counts as free while it is empty, so an empty value fills nothing.
void fillFirstFreeSlot(const std::string& value, RunSettings& settings) {
    for (std::string* slot : {&settings.rootKeyName, &settings.appName, &settings.appVersion}) {
        if (slot->empty()) {
            *slot = value;
            return;
        }
    }
}

void applyNameDefaults(RunSettings& settings) {
    if (settings.appName.empty()) {
        settings.appName = unknownName;
    }
    if (settings.appVersion.empty()) {
        settings.appVersion = unknownName;
    }
}

} // namespace

void interpretCommandLine(const CommandLine& commandLine, RunSettings& settings) {
    const std::uint32_t count = commandLine.count();
    for (std::uint32_t i = 0; i < count; ++i) {
        const CommandLineEntry& entry = commandLine.entry(i);
        if (!applyOption(entry, settings)) {
            fillFirstFreeSlot(entry.value, settings);
        }
    }
    settings.rootKey = resolveRootKey(settings.rootKeyName);
    applyNameDefaults(settings);
}

RootKey resolveRootKey(const std::string& rootKeyName) {
    if (rootKeyName == "HKLM" || rootKeyName == "HKEY_LOCAL_MACHINE") {
        return RootKey::localMachine;
    }
    return RootKey::currentUser;
}

std::string usageText() {
    std::string text;
    text += "usage: qoramark ROOTKEY APPNAME APPVER [options]\n";
    text += "  ROOTKEY\tHKCU / HKEY_CURRENT_USER / HKLM / HKEY_LOCAL_MACHINE\n";
    text += "  APPNAME\tapplications name, e.g. Mozilla\n";
    text += "  APPVER\tapplication version, e.g. 1.2.1.en\n";
    text += "  options:\n";
    text += "  -l\t\tenable local logging to C:\\WINNT\\QORA.LOG (write access needed)\n";
    text += "  -L hostname\tenable syslog logging to hostname\n";
    text += "  -r\t\twrite rundate\n";
    text += "  -s setupfile\twrite setupfile date\n";
    text += "  -c\t\tupdate run count in registry\n";
    text += "  -n\t\twrite nds account name of current user (.%NWUSERNAME%.%LOGINCONTEXT%)\n";
    text += "  -u\t\twrite sam account name of current user (%USERNAME%)\n";
    text += "  -v\t\twrite setupversion\n";
    text += "\n";
    text += "qoramark records which application versions are installed and run on this machine\n";
    return text;
}

void showUsage() {
    platform::showMessageBox(usageText(), "qoramark usage");
}

} // namespace qoramark
