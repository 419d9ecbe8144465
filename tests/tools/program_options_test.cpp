// SPDX-License-Identifier: GPL-3.0-or-later
// The programs' own options, run as a user runs them: each answers --version
// with its version and the licence (and fails when it cannot write them);
// the window program answers --help and --version without starting the
// toolkit, takes the toolkit's own options, and refuses an option it does
// not know with its usage before any window opens.

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/RunningProgram.h"

namespace {

constexpr auto npos = std::string::npos;

bool windowProgramBuilt() { return std::string(KDX_INTERFACE_PATH) != ""; }

// An environment variable as the programs started here see it; put back as
// it was when the test ends.
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value, 1);
    }
    ~EnvironmentVariable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ProgramVersions, EachProgramPrintsItsVersionAndTheLicenceInOneLine) {
    std::vector<std::pair<std::string, std::string>> programs = {{"kdx", KDX_CLI_PATH}, {"kdxsim", KDXSIM_PATH}};
    if (windowProgramBuilt()) programs.emplace_back("kdx-interface", KDX_INTERFACE_PATH);
    for (const auto& [name, path] : programs) {
        Outcome o = RunningProgram(path, {"--version"}).finish();
        EXPECT_EQ(o.status, 0) << name << ": " << o.err;
        EXPECT_EQ(o.err, "") << name;
        const auto firstBreak = o.out.find('\n');
        ASSERT_NE(firstBreak, npos) << name << ": " << o.out;
        EXPECT_EQ(o.out.rfind(name + " (KDX Interface) ", 0), 0u) << o.out;
        const std::string licence = o.out.substr(firstBreak + 1);
        EXPECT_EQ(licence.find('\n'), licence.size() - 1) << name << ": not one line: " << licence;
        EXPECT_NE(licence.find("GPL-3.0-or-later"), npos) << name << ": " << licence;
    }
}

TEST(ProgramVersions, AVersionThatCannotBeWrittenIsAFailureWithTheReason) {
    std::vector<std::string> programs = {KDX_CLI_PATH, KDXSIM_PATH};
    if (windowProgramBuilt()) programs.emplace_back(KDX_INTERFACE_PATH);
    for (const auto& path : programs) {
        Outcome o = RunningProgram(path, {"--version"}, RunningProgram::Output::DevFull).finish();
        EXPECT_NE(o.status, 0) << path;
        EXPECT_NE(o.err.find("No space left on device"), npos) << path << ": " << o.err;
    }
}

// kdxsim's --version once took the controller's answer; a script that
// still gives one gets an error that names the new option, not the
// program's version in place of the port name.
TEST(KdxsimProgramOptions, VersionWithAValueIsRefusedAndNamesControllerVersion) {
    Outcome o = RunningProgram(KDXSIM_PATH, {"--version", "2.0"}).finish();
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("--controller-version TEXT"), npos) << o.err;
}

TEST(KdxInterfaceProgram, TheToolkitsOptionsAndSimulatorOpenTheWindow) {
    if (!windowProgramBuilt()) GTEST_SKIP() << "built without the window";
    EnvironmentVariable exitAfterShow("KDX_EXIT_AFTER_SHOW", "1");
    Outcome o = RunningProgram(KDX_INTERFACE_PATH, {"-platform", "offscreen", "--simulator"}).finish();
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "shown: yes\n");
}

TEST(KdxInterfaceProgram, AnUnknownOptionIsRefusedWithTheUsageAndStatus2BeforeAnyWindowOpens) {
    if (!windowProgramBuilt()) GTEST_SKIP() << "built without the window";
    // Were the window shown, the program would print "shown: yes" and end.
    EnvironmentVariable exitAfterShow("KDX_EXIT_AFTER_SHOW", "1");
    // The toolkit takes its own option; the unknown one after it is refused.
    Outcome o = RunningProgram(KDX_INTERFACE_PATH, {"-platform", "offscreen", "--no-such-option"}).finish();
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find("kdx-interface: unknown option '--no-such-option'\nUsage: kdx-interface "), npos) << o.err;
}

TEST(KdxInterfaceProgram, HelpAndVersionAnswerWithoutStartingTheToolkit) {
    if (!windowProgramBuilt()) GTEST_SKIP() << "built without the window";
    // The toolkit would abort on a platform that does not exist.
    EnvironmentVariable noPlatform("QT_QPA_PLATFORM", "no-such-platform");
    Outcome help = RunningProgram(KDX_INTERFACE_PATH, {"--simulator", "--help"}).finish();
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: kdx-interface ", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    Outcome version = RunningProgram(KDX_INTERFACE_PATH, {"--version"}).finish();
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out.rfind("kdx-interface (KDX Interface) ", 0), 0u) << version.out;
}

}  // namespace
