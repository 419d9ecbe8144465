// SPDX-License-Identifier: GPL-3.0-or-later
// The manuals and the programs' --help texts describe the same commands and
// options: a command or option added to one and not the other fails here.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tools/RunningProgram.h"

namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The manual as plain text: font changes dropped, escaped minus signs as
// minus signs.
std::string manualText(const std::string& page) {
    std::string text = readText(std::string(KDX_MANUAL_DIR) + "/" + page);
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    return text;
}

std::set<std::string> longOptions(const std::string& text) {
    std::set<std::string> found;
    const std::regex option(R"(--[a-z][a-z-]*)");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
        found.insert(it->str());
    return found;
}

// The part of a manual from the section heading to the next one.
std::string section(const std::string& manual, const std::string& name) {
    const auto start = manual.find(".SH " + name + "\n");
    if (start == std::string::npos) return {};
    const auto end = manual.find("\n.SH ", start + 1);
    return manual.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// An entry of its own under OPTIONS: a tag line ".B --name" or ".BI --name ...".
bool hasOptionEntry(const std::string& manual, const std::string& option) {
    const std::string options = section(manual, "OPTIONS");
    return std::regex_search(options, std::regex("\\n\\.BI? " + option + "( |\\n)"));
}

std::string helpOf(const std::string& program, const std::vector<std::string>& args) {
    Outcome o = RunningProgram(program, args).finish();
    EXPECT_EQ(o.status, 0) << program << " " << (args.empty() ? "" : args[0]) << ": " << o.err;
    return o.out;
}

TEST(Manuals, KdxManualNamesEveryCommandAndOptionOfTheHelpTexts) {
    const std::string help = helpOf(KDX_CLI_PATH, {"--help"});
    // "  kdx NAME ..." lines of the tool's help are its commands.
    std::set<std::string> helpCommands;
    std::string allHelp = help;
    const std::regex commandLine(R"(^  kdx ([a-z][a-z-]*))");
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, commandLine)) helpCommands.insert(m[1]);
    }
    ASSERT_FALSE(helpCommands.empty());
    for (const auto& c : helpCommands) allHelp += helpOf(KDX_CLI_PATH, {c, "--help"});

    // The manual's COMMANDS section: one ".B kdx NAME" tag per command.
    const std::string manual = manualText("kdx.1");
    std::set<std::string> manualCommands;
    const std::string commands = section(manual, "COMMANDS");
    const std::regex tag(R"(\.TP\n\.B kdx ([a-z][a-z-]*))");
    for (std::sregex_iterator it(commands.begin(), commands.end(), tag), end; it != end; ++it)
        manualCommands.insert((*it)[1]);
    EXPECT_EQ(manualCommands, helpCommands);
    EXPECT_EQ(longOptions(manual), longOptions(allHelp));
    for (const auto& o : longOptions(allHelp)) EXPECT_TRUE(hasOptionEntry(manual, o)) << o;
}

TEST(Manuals, KdxsimManualNamesEveryOptionOfItsHelpText) {
    const std::string manual = manualText("kdxsim.1");
    const std::string help = helpOf(KDXSIM_PATH, {"--help"});
    EXPECT_EQ(longOptions(manual), longOptions(help));
    // Its own options are those of the usage line (the text also shows
    // kdx's --port).
    const std::set<std::string> own = longOptions(help.substr(0, help.find('\n')));
    EXPECT_FALSE(own.empty());
    for (const auto& o : own) EXPECT_TRUE(hasOptionEntry(manual, o)) << o;
}

TEST(Manuals, KdxInterfaceManualNamesEveryOptionOfItsHelpText) {
    if (std::string(KDX_INTERFACE_PATH).empty()) GTEST_SKIP() << "built without the window";
    const std::string manual = manualText("kdx-interface.1");
    const std::string help = helpOf(KDX_INTERFACE_PATH, {"--help"});
    // The manual's DESCRIPTION also names kdx's --long; its OPTIONS are the
    // program's own.
    EXPECT_EQ(longOptions(section(manual, "OPTIONS")), longOptions(help));
    EXPECT_EQ(longOptions(section(manual, "SYNOPSIS")), longOptions(help.substr(0, help.find('\n'))));
    for (const auto& o : longOptions(help)) EXPECT_TRUE(hasOptionEntry(manual, o)) << o;
}

TEST(Manuals, EveryManualNamesTheLicenceInItsCopyrightSection) {
    for (const char* page : {"kdx.1", "kdxsim.1", "kdx-interface.1"})
        EXPECT_NE(section(manualText(page), "COPYRIGHT").find("GPL-3.0-or-later"), std::string::npos) << page;
}

}  // namespace
