#include "zqa.h"

#include "commandline.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>

#ifndef EMBERVISE_VERSION
#define EMBERVISE_VERSION "0.0.0"
#endif

namespace
{
// The --compressed / --plain pair shared by every command.
struct InputFlags
{
    bool bCompressed = false;
    bool bPlain = false;

    void AddTo(CLI::App* pCommand, const char* pszCompressedHelp, const char* pszPlainHelp)
    {
        CLI::Option* pCompressed = pCommand->add_flag("--compressed", bCompressed, pszCompressedHelp);
        pCommand->add_flag("--plain", bPlain, pszPlainHelp)->excludes(pCompressed);
    }

    zqa::InputMode Mode(zqa::InputMode eDefault) const
    {
        if (bCompressed)
            return zqa::InputMode::Compressed;
        if (bPlain)
            return zqa::InputMode::Plain;
        return eDefault;
    }
};
} // namespace

int main(int argc, char** argv)
{
    CLI::App app{
        "Compress, decompress, print and check ZQA files (the parenthesised text format of the "
        "ZQ engine's sources).\nA name whose last character is 'c' or 'C' is read as LZSS-compressed."};
    app.name("zqa");
    app.set_version_flag("-V,--version", "zqa " EMBERVISE_VERSION);
    app.require_subcommand(1);

    std::string sInput;
    zqa::ConvertOptions convert;
    std::vector<std::string> files;
    bool bQuiet = false;
    InputFlags compressFlags;
    InputFlags decompressFlags;
    InputFlags treeFlags;
    InputFlags checkFlags;

    CLI::App* pCompress =
        app.add_subcommand("compress", "LZSS-compress a file (IN.Fx00a -> IN.Fx00c by default)");
    pCompress->add_option("IN", convert.sInput, "file to compress (read as plain text)")->required();
    pCompress->add_option("-o,--output", convert.sOutput,
                          "output file (default: IN with its last letter 'a' made 'c')");
    pCompress->add_flag("-f,--force", convert.bForce, "replace the output file when it exists");
    compressFlags.AddTo(pCompress, "IN is itself compressed: recompress it",
                        "IN is plain text (the default)");

    CLI::App* pDecompress =
        app.add_subcommand("decompress", "Decompress a file (IN.Fx00c -> IN.Fx00a by default)");
    pDecompress->add_option("IN", convert.sInput, "compressed file")->required();
    pDecompress->add_option(
        "-o,--output", convert.sOutput,
        "output file, or - for standard output (default: IN with its last letter 'c' made 'a')");
    pDecompress->add_flag("-f,--force", convert.bForce, "replace the output file when it exists");
    decompressFlags.AddTo(pDecompress, "IN is compressed (the default)", "IN is plain: copy it");

    CLI::App* pTree = app.add_subcommand("tree", "Print the loaded tree, one node per line");
    pTree->add_option("FILE", sInput, "ZQA file, plain or compressed")->required();
    treeFlags.AddTo(pTree, "read FILE as compressed whatever its name",
                    "read FILE as plain whatever its name");

    CLI::App* pCheck = app.add_subcommand(
        "check", "Load each file and say what is wrong; exit 1 when any fails.\nA folder is searched "
                 "recursively for ZQA sources (extensions ending in 00a or 00c); @LIST names further "
                 "paths, one per line; every argument after -- is a path");
    pCheck->add_option("PATH", files, "ZQA files, folders or @LIST files");
    pCheck->add_flag("-q,--quiet", bQuiet, "print only problems");
    checkFlags.AddTo(pCheck, "read every file as compressed", "read every file as plain");

    // check takes every argument after the first "--" as a path, literally (even one starting with
    // '-' or '@'); CLI11 would hand those back to the main command once PATH has a value.
    // The main command has options only, so the first other argument names the command.
    int nCommand = 1;
    while (nCommand < argc && argv[nCommand][0] == '-')
        ++nCommand;
    const int nParsed = nCommand < argc && std::strcmp(argv[nCommand], "check") == 0
                            ? ArgumentsBeforePaths(argc, argv, nCommand + 1)
                            : argc;
    try
    {
        app.parse(nParsed, argv);
        if (pCheck->parsed() && files.empty() && nParsed + 1 >= argc)
            throw CLI::RequiredError("PATH");
    }
    catch (const CLI::ParseError& e)
    {
        return CommandLineError("zqa", app, e);
    }

    if (pCompress->parsed())
        return zqa::RunConvert(convert, true, compressFlags.Mode(zqa::InputMode::Plain));
    if (pDecompress->parsed())
        return zqa::RunConvert(convert, false, decompressFlags.Mode(zqa::InputMode::Compressed));
    if (pTree->parsed())
        return zqa::RunTree(sInput, treeFlags.Mode(zqa::InputMode::ByName));
    std::vector<zqa::CheckArg> checkArgs;
    for (const std::string& sFile : files)
        checkArgs.push_back({sFile, false});
    for (int i = nParsed + 1; i < argc; ++i)
        checkArgs.push_back({argv[i], true});
    return zqa::RunCheck(zqa::GatherCheckFiles(checkArgs), checkFlags.Mode(zqa::InputMode::ByName), bQuiet);
}
