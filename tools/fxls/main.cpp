// fxls: the language server for effect sources. Speaks the Language Server Protocol over standard
// input and output; logs only when asked.
#include "log.h"
#include "server.h"
#include "transport.h"
#include "trustoption.h"
#include "zqprocess.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

int main(int argc, char** argv)
{
    CLI::App app{"The language server for effect sources (.Fx00a): diagnostics as you type with fxcheck's "
                 "findings, hover and completion from the effect module, quick fixes, outline and go to "
                 "definition. Speaks the Language Server Protocol over standard input and output; an editor "
                 "starts it.",
                 "fxls"};
    std::string sLog;
    bool bVerbose = false;
    bool bStdio = false;
    ServerOptions options;
    options.sVersion = EMBERVISE_VERSION;
    app.add_option("--log", sLog, "append a log of the session to FILE")->type_name("FILE");
    app.add_flag("-v,--verbose", bVerbose, "log to standard error (when no --log FILE is given)");
    app.add_option("--debounce", options.nDebounceMs,
                   "milliseconds a document's text must rest before it is checked (default 200)")
        ->check(CLI::Range(0, 60000));
    app.add_flag("--stdio", bStdio,
                 "talk over standard input and output (the only way; accepted for clients "
                 "that pass it)");
    std::vector<std::string> trusted;
    app.add_option(
           "--trust", trusted,
           "use project locators and effect modules in DIR and below even when others could change them")
        ->type_name("DIR");
    app.set_version_flag("-V,--version", std::string("fxls ") + EMBERVISE_VERSION);
    app.allow_extras(); // options some clients add, such as --clientProcessId
    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        const int nExit = app.exit(e);
        return nExit == 0 ? 0 : 2;
    }
    if (!trusted.empty() && !TrustFolders(trusted))
    {
        std::cerr << "fxls: cannot pass the trusted folders on\n";
        return 2;
    }
    CLog log;
    if ((!sLog.empty() || bVerbose) && !log.Open(sLog))
    {
        std::cerr << "fxls: cannot open the log file '" << sLog << "'\n";
        return 2;
    }
    // Blocks of 1 MiB and more (texts, the editor's tree, the checker's columns) come from the
    // system and go back to it when freed. Otherwise the heap, once such a block is freed, serves
    // them itself and keeps them, and a check beside the editor's tree does not always fit in
    // what it keeps.
    PlatformReturnLargeBlocks(1024 * 1024);
    // The protocol counts bytes: no line ending may be translated.
    PlatformSetBinaryMode(stdin);
    PlatformSetBinaryMode(stdout);
    CTransport transport(stdin, stdout);
    CServer server(transport, log, options);
    log.Line("fxls " + options.sVersion + " started");
    return server.Run();
}
