#include "commandline.h"
#include "printable.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <vector>

namespace
{
// A bound as CLI11 prints it ("0.000000", "1024") without trailing zeros; empty when it is so
// large that it only stands for "no upper bound".
std::string Bound(std::string sNumber)
{
    const size_t nDot = sNumber.find('.');
    if ((nDot == std::string::npos ? sNumber.size() : nDot) > 18)
        return std::string();
    if (nDot != std::string::npos)
    {
        sNumber.erase(sNumber.find_last_not_of('0') + 1);
        if (sNumber.back() == '.')
            sNumber.pop_back();
    }
    return sNumber;
}

// "a, b, c or d".
std::string Alternatives(const std::vector<std::string>& names)
{
    std::string sOut;
    for (size_t i = 0; i < names.size(); ++i)
        sOut += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return sOut;
}
} // namespace

int ArgumentsBeforePaths(int argc, char** argv, int nFrom)
{
    for (int i = nFrom; i < argc; ++i)
        if (std::strcmp(argv[i], "--") == 0)
            return i;
    return argc;
}

int PrintUsageError(const std::string& sCommand, const std::string& sMessage)
{
    std::fprintf(stderr, "%s: error: %s (see %s --help)\n", sCommand.c_str(), Printable(sMessage).c_str(),
                 sCommand.c_str());
    return 2;
}

std::string UsageMessage(const std::string& sParserMessage, const std::string& sCommands)
{
    std::smatch match;
    const std::regex range("(.*): Value (.*) not in range (\\S+) to (\\S+)");
    if (std::regex_match(sParserMessage, match, range))
    {
        const std::string sHigh = Bound(match[4]);
        return match[1].str() + ": '" + match[2].str() + "' is not a number " +
               (sHigh.empty() ? "of at least " + Bound(match[3])
                              : "from " + Bound(match[3]) + " to " + sHigh);
    }
    const std::regex conversion("Could not convert: (.*) = (.*)");
    if (std::regex_match(sParserMessage, match, conversion))
        return match[1].str() + ": '" + match[2].str() + "' is not a valid value";
    const std::regex extras("The following arguments? (?:was|were) not expected: (.*)");
    if (std::regex_match(sParserMessage, match, extras))
        return "unexpected argument" +
               std::string(match[1].str().find(' ') == std::string::npos ? " " : "s ") + "'" +
               match[1].str() + "'";
    const std::regex member("(.*): (.*) not in \\{(.*)\\}");
    if (std::regex_match(sParserMessage, match, member))
    {
        std::vector<std::string> choices;
        const std::string sChoices = match[3];
        for (size_t nStart = 0, nComma; nStart <= sChoices.size(); nStart = nComma + 1)
        {
            nComma = std::min(sChoices.find(',', nStart), sChoices.size());
            choices.push_back(sChoices.substr(nStart, nComma - nStart));
        }
        return match[1].str() + ": '" + match[2].str() + "' is not " + Alternatives(choices);
    }
    const std::regex missing("(.*): \\d+ required \\S+ missing");
    if (std::regex_match(sParserMessage, match, missing))
        return match[1].str() + " needs a value";
    if (sParserMessage == "A subcommand is required")
        return "a command is required: " + sCommands;
    std::string sOut = sParserMessage;
    // "Expected ..." becomes "expected ..."; a name in capitals ("FILE is required") stays.
    if (sOut.size() > 1 && sOut[0] >= 'A' && sOut[0] <= 'Z' && sOut[1] >= 'a' && sOut[1] <= 'z')
        sOut[0] = static_cast<char>(sOut[0] - 'A' + 'a');
    return sOut;
}

int CommandLineError(const std::string& sProgram, CLI::App& app, const CLI::ParseError& error)
{
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
        return app.exit(error);
    std::string sCommand = sProgram;
    for (const CLI::App* pCommand : app.get_subcommands())
        sCommand += " " + pCommand->get_name();
    std::vector<std::string> commands;
    const CLI::App& constApp = app;
    for (const CLI::App* pCommand : constApp.get_subcommands([](const CLI::App*) { return true; }))
        commands.push_back(pCommand->get_name());
    // CLI11 reports what is missing before what is left over; a word where a command belongs, or an
    // unknown option, is the more likely mistake.
    const std::vector<std::string> remaining = app.remaining(true);
    if (error.get_name() == "RequiredError" && !remaining.empty())
    {
        if (!commands.empty() && app.get_subcommands().empty())
            return PrintUsageError(sCommand, "unknown command '" + remaining.front() +
                                                 "'; the commands are " + Alternatives(commands));
        for (const std::string& sArg : remaining)
        {
            if (sArg.size() > 1 && sArg[0] == '-')
                return PrintUsageError(sCommand, "unexpected argument '" + sArg + "'");
        }
    }
    return PrintUsageError(sCommand, UsageMessage(error.what(), Alternatives(commands)));
}
