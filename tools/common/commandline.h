// Usage errors in one style for every program: "PROG: error: MESSAGE (see PROG --help)" on
// standard error and exit status 2.
#pragma once

#include <string>

namespace CLI
{
class App;
class ParseError;
} // namespace CLI

// The programs take every argument after the first "--" as a path, literally, even one starting with
// '-' or '@'. The count of arguments up to that "--" (argc when there is none), searched from
// argv[nFrom]: what the parser is given.
int ArgumentsBeforePaths(int argc, char** argv, int nFrom = 1);

// Prints the usage error; sCommand is the program's name, or the program and a subcommand
// ("zqa check"). Answers 2, the exit status for wrong usage.
int PrintUsageError(const std::string& sCommand, const std::string& sMessage);

// The end of a failed CLI11 parse: --help and --version print as CLI11 does and answer 0; any other
// failure is a usage error of sProgram (or of the subcommand that was being parsed), its message
// in the programs' own wording.
int CommandLineError(const std::string& sProgram, CLI::App& app, const CLI::ParseError& error);

// CLI11's message for a failed parse in the programs' wording ("unexpected argument '--x'",
// "--jobs: 'x' is not a number from 0 to 1024"); other messages with a lower-case start.
std::string UsageMessage(const std::string& sParserMessage, const std::string& sCommands);
