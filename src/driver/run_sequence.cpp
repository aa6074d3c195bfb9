#include "driver/run_sequence.h"

#include "cmdline/command_line.h"
#include "driver/options.h"
#include "facts/account_names.h"
#include "facts/network_identity.h"
#include "facts/time_stamps.h"
#include "registry/application_key.h"
#include "registry/key_paths.h"
#include "registry/version_key.h"
#include "report/local_log.h"
#include "report/syslog_record.h"
#include "run/records.h"

namespace qoramark {

namespace {

constexpr std::uint32_t minimumEntries = 3;

std::int32_t recordRun(const CommandLine& commandLine, RunSettings& settings, RunFacts& facts) {
    interpretCommandLine(commandLine, settings);
    const KeyPaths paths = composeKeyPaths(settings.appName, settings.appVersion);
    if (settings.writeSetupDate) {
        stampSetupFile(settings.setupFile, facts);
    }
    stampRun(facts);
    gatherAccountNames(facts);
    gatherNetworkIdentity(facts);
    facts.runCount = updateApplicationKey(settings.rootKey, paths.appKeyPath, paths.versionKeyPath,
                                          settings.appVersion);
    const std::int32_t exitCode =
        writeVersionKey(settings.rootKey, paths.versionKeyPath, settings, facts);
    if (settings.localLog) {
        writeLocalLog(settings, facts);
    }
    if (settings.sendSyslog) {
        sendSyslogRecord(settings, facts);
    }
    return exitCode;
}

} // namespace

std::int32_t runQoramark(const std::string& commandLineTail) {
    const CommandLine commandLine(commandLineTail);
    RunSettings settings;
    RunFacts facts;
    if (commandLine.count() < minimumEntries) {
        showUsage();
        return 0;
    }
    return recordRun(commandLine, settings, facts);
}

} // namespace qoramark
