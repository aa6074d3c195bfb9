#include "facts/account_names.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qoramark {
namespace {

using Variables = std::vector<std::pair<std::string, std::string>>;

const char* const accountVariables[] = {"USERNAME", "NWUSERNAME", "LOGINCONTEXT"};

bool isAccountVariable(const std::string& name) {
    for (const char* variable : accountVariables) {
        if (strcasecmp(name.c_str(), variable) == 0) {
            return true;
        }
    }
    return false;
}

// The account variables of the environment in every spelling, in order.
Variables accountEnvironment() {
    Variables found;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos && isAccountVariable(text.substr(0, equals))) {
            found.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        }
    }
    return found;
}

void replaceAccountEnvironment(const Variables& variables) {
    for (const auto& [name, value] : accountEnvironment()) {
        unsetenv(name.c_str());
    }
    for (const auto& [name, value] : variables) {
        setenv(name.c_str(), value.c_str(), 1);
    }
}

// Without USERNAME the account database names the user who runs the test.
constexpr const char* runningAccount = nullptr;

std::string runningAccountName() {
    const passwd* account = getpwuid(getuid());
    return account != nullptr ? account->pw_name : "";
}

struct AccountCase {
    const char* name;
    Variables environment;
    const char* samName; // runningAccount: the name from the account database
    const char* ndsName;
};

void PrintTo(const AccountCase& c, std::ostream* out) {
    *out << c.name;
}

class AccountNames : public ::testing::TestWithParam<AccountCase> {
  protected:
    void SetUp() override { saved = accountEnvironment(); }
    void TearDown() override { replaceAccountEnvironment(saved); }
    Variables saved;
};

TEST_P(AccountNames, ComeFromTheEnvironment) {
    replaceAccountEnvironment(GetParam().environment);
    RunFacts facts;
    gatherAccountNames(facts);
    const char* samName = GetParam().samName;
    EXPECT_EQ(facts.samName, samName == runningAccount ? runningAccountName() : samName);
    EXPECT_EQ(facts.ndsName, GetParam().ndsName);
}

// The variables are set in the order listed; a new variable goes to the end
// of the environment, so the listed order is the environment's order.
INSTANTIATE_TEST_SUITE_P(
    Cases, AccountNames,
    ::testing::Values(
        AccountCase{"NoneDefined", {}, runningAccount, ""},
        AccountCase{"UserName", {{"USERNAME", "jdoe"}}, "jdoe", ""},
        AccountCase{"EmptyUserNameCountsAsDefined", {{"USERNAME", ""}}, "", ""},
        AccountCase{"TextUnchanged", {{"USERNAME", " J\xe4ne  Doe "}}, " J\xe4ne  Doe ", ""},
        AccountCase{"NdsName",
                    {{"NWUSERNAME", "user7"}, {"LOGINCONTEXT", "dept.main"}},
                    runningAccount,
                    ".user7.dept.main"},
        AccountCase{"OnlyNdsUser", {{"NWUSERNAME", "user7"}}, runningAccount, ""},
        AccountCase{"OnlyContext", {{"LOGINCONTEXT", "dept.main"}}, runningAccount, ""},
        AccountCase{"BothEmptyCountAsDefined",
                    {{"NWUSERNAME", ""}, {"LOGINCONTEXT", ""}},
                    runningAccount,
                    ".."},
        AccountCase{"OtherCase", {{"username", "lower"}}, "lower", ""},
        AccountCase{"ExactCaseWins", {{"username", "lower"}, {"USERNAME", "exact"}}, "exact", ""},
        AccountCase{
            "FirstOfOtherCases", {{"UserName", "first"}, {"username", "second"}}, "first", ""},
        AccountCase{"NdsNameInOtherCases",
                    {{"NwUserName", "u"}, {"logincontext", "c"}, {"USERNAME", "s"}},
                    "s",
                    ".u.c"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qoramark
