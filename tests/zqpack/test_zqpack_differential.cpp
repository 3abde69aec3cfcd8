// Incremental packs against clean ones: seeded random edits of a small project, each followed by an
// incremental run (zqpack in every mode, two runs at once, or ninja) and a forced pack of a fresh
// copy with no records; every output and every failure must agree. ZQPACK_STALE_SEEDS and
// ZQPACK_STALE_STEPS ask for more (make stale-check).
#include "test_support.h"

#include "zqprocess.h"

#include <cstdlib>
#include <map>
#include <random>
#include <set>

namespace
{
const std::string PLUGIN = BinLibrary("Embervise");
// The sample module and a variant of it that packs other bytes; an edit may put either (or one that
// fails to load) in their place.
const char* const MODULE_A = "lib/a.dll";
const char* const MODULE_B = "lib/b.dll";

unsigned EnvNumber(const char* pszName, unsigned nDefault)
{
    const char* pszValue = std::getenv(pszName);
    return pszValue && *pszValue ? static_cast<unsigned>(std::strtoul(pszValue, nullptr, 10)) : nDefault;
}

std::string Lower(std::string sText)
{
    for (char& c : sText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return sText;
}

bool IsSource(const fs::path& path)
{
    const std::string sExtension = Lower(path.extension().string());
    return sExtension == ".fx00a" || sExtension == ".fx00c";
}

// An effect source whose packed bytes follow the numbers; a broken one fails to load.
std::string EffectText(unsigned nLength, unsigned nEnd, bool bBroken)
{
    return "(header (version 1))\n(effect-tree (effect (name Fx" + std::to_string(nLength % 7) +
           ") (length " + std::to_string(1000 + nLength % 9000) +
           ") (key-list\n  (key (type Light) (id 1) (track 0) " + "(start-time 0) (end-time " +
           std::to_string(1000 + nEnd % 9000) + ")))))" + (bBroken ? "" : ")") + "\n";
}

struct Outcomes
{
    std::map<std::string, std::string> results; // source as named -> "packed", "failed", ...
};

// The "source" and "result" of each JSON line.
Outcomes ParseJson(const std::string& sOut)
{
    static const std::regex line("\\{\"source\":\"([^\"]*)\",\"destination\":[^,]*,\"result\":\"([a-z-]+)\"");
    Outcomes outcomes;
    for (std::sregex_iterator it(sOut.begin(), sOut.end(), line), end; it != end; ++it)
        outcomes.results[fs::path((*it)[1].str()).generic_string()] = (*it)[2].str();
    return outcomes;
}

// The sample module with another default for the light type: it packs other bytes. Its description
// tables are data in the library, the default a NUL-padded text.
std::string VariantModule()
{
    std::string sBytes = ReadFile(BinLibrary("sparkrig_sample"));
    const std::string sDefault("Point\0\0\0\0\0\0\0\0", 13);
    const size_t nAt = sBytes.find(sDefault);
    if (nAt != std::string::npos)
        sBytes.replace(nAt, sDefault.size(), std::string("Spot\0\0\0\0\0\0\0\0\0", 13));
    return sBytes;
}

class ZqpackDifferential : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::current_path(TempDir());
        SetEnv("ZQTEST_MISBEHAVE", "");
    }

    // The project: two modules, a locator, sources at three depths.
    void MakeTree()
    {
        fs::remove_all(TempPath("inc"));
        fs::remove_all(TempPath("cache"));
        fs::create_directories(TempPath("inc/lib"));
        fs::copy_file(BinLibrary("sparkrig_sample"), TempPath("inc/lib/a" + std::string(kLibrarySuffix)));
        WriteTemp("inc/lib/b" + std::string(kLibrarySuffix), VariantModule());
        WriteTemp("inc/game.proj00", Locator(0, MODULE_A));
        const char* const apszSources[] = {"fx/a.Fx00a", "fx/b.Fx00a", "fx/sub/c.Fx00a",
                                           "fx/sub/deep/d.Fx00a", "fx/sub/deep/e.Fx00a"};
        for (const char* pszSource : apszSources)
            WriteTemp(std::string("inc/") + pszSource, EffectText(Next(), Next(), false));
    }

    static std::string Locator(int nDepth, const char* pszModule)
    {
        std::string sUp;
        for (int i = 0; i < nDepth; ++i)
            sUp += "../";
        return "[Project Binaries]\nSparkrig=" + sUp + pszModule + "\n";
    }

    unsigned Next() { return static_cast<unsigned>(m_random()); }
    bool Chance(unsigned nPercent) { return Next() % 100 < nPercent; }

    std::vector<std::string> Sources() const
    {
        std::vector<std::string> sources;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(TempPath("inc/fx"), ec), end; !ec && it != end;
             it.increment(ec))
            if (it->is_regular_file() && IsSource(it->path()))
                sources.push_back(fs::relative(it->path(), TempPath("inc")).generic_string());
        std::sort(sources.begin(), sources.end());
        return sources;
    }

    // Rewrites a file, its write time put back half of the time (as cp -p or a pinned build does).
    void Rewrite(const std::string& sRelative, const std::string& sBytes)
    {
        const std::string sPath = TempPath("inc/" + sRelative);
        std::error_code ec;
        const auto written = fs::last_write_time(sPath, ec);
        const bool bKeepTime = !ec && Chance(50) && !m_bWriteTimesOnly;
        if (Chance(50) && fs::exists(sPath))
            std::fstream(sPath, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc) << sBytes;
        else
            WriteFile(sPath, sBytes);
        if (bKeepTime)
            fs::last_write_time(sPath, written, ec);
    }

    std::string Pick(const std::vector<std::string>& items) { return items[Next() % items.size()]; }

    // One random edit of a kind that an incremental run must see; its name, for the trace.
    std::string Edit()
    {
        const std::vector<std::string> sources = Sources();
        const std::vector<std::string> folders = {"fx", "fx/sub", "fx/sub/deep"};
        const std::vector<std::string> locators = {"a.proj00", "fx/sub/near.proj00", "fx/sub/deep/z.proj00",
                                                   "fx/0.proj00"};
        switch (Next() % 9)
        {
        case 0: // a source's content, often of the same size
            if (sources.empty())
                break;
            {
                const std::string sSource = Pick(sources);
                if (Lower(sSource).back() == 'c')
                    break;
                Rewrite(sSource, EffectText(Next(), Next(), Chance(15)));
                return "edit " + sSource;
            }
        case 1: // a locator's module
        {
            const std::string sLocator = Chance(50) ? "game.proj00" : Pick(locators);
            const int nDepth = static_cast<int>(std::count(sLocator.begin(), sLocator.end(), '/'));
            if (sLocator != "game.proj00" && !fs::exists(TempPath("inc/" + sLocator)))
                break;
            Rewrite(sLocator, Locator(nDepth, Chance(50) ? MODULE_A : MODULE_B));
            return "locator " + sLocator;
        }
        case 2: // a module replaced in place: the sample, or one that fails to load
        {
            const std::string sModule = std::string("lib/") + (Chance(50) ? "a" : "b") + kLibrarySuffix;
            const unsigned nKind = Next() % 10;
            Rewrite(sModule, nKind < 5   ? ReadFile(BinLibrary("sparkrig_sample"))
                             : nKind < 9 ? VariantModule()
                                         : ReadFile(BinLibrary("testmodule_misbehave")));
            return "module " + sModule;
        }
        case 3: // a locator appearing or going, nearer a source or first in name order
        {
            const std::string sLocator = Pick(locators);
            const std::string sPath = TempPath("inc/" + sLocator);
            if (fs::exists(sPath))
            {
                fs::remove(sPath);
                return "remove " + sLocator;
            }
            const int nDepth = static_cast<int>(std::count(sLocator.begin(), sLocator.end(), '/'));
            WriteFile(sPath, Locator(nDepth, Chance(50) ? MODULE_A : MODULE_B));
            return "add " + sLocator;
        }
        case 4: // a source renamed, maybe into another folder
            if (sources.empty())
                break;
            {
                const std::string sFrom = Pick(sources);
                const std::string sTo =
                    Pick(folders) + "/n" + std::to_string(Next() % 6) + fs::path(sFrom).extension().string();
                if (fs::exists(TempPath("inc/" + sTo)))
                    break;
                fs::rename(TempPath("inc/" + sFrom), TempPath("inc/" + sTo));
                return "rename " + sFrom + " " + sTo;
            }
        case 5: // converted between text and compressed
            if (sources.empty())
                break;
            {
                const std::string sFrom = Pick(sources);
                const bool bCompress = Lower(sFrom).back() == 'a';
                const std::string sTo =
                    fs::path(sFrom).replace_extension(bCompress ? ".Fx00c" : ".Fx00a").string();
                if (fs::exists(TempPath("inc/" + sTo)))
                    break;
                const RunResult run =
                    RunProgram("zqa", {bCompress ? "compress" : "decompress", TempPath("inc/" + sFrom)});
                if (run.nExit != 0 || !fs::exists(TempPath("inc/" + sTo)))
                    break;
                fs::remove(TempPath("inc/" + sFrom));
                return "convert " + sFrom;
            }
        case 6: // an output deleted or damaged (same size, same write time)
            if (sources.empty())
                break;
            {
                const std::string sOutput = fs::path(Pick(sources)).replace_extension(".Fx00p").string();
                if (!fs::exists(TempPath("inc/" + sOutput)))
                    break;
                if (Chance(40))
                {
                    fs::remove(TempPath("inc/" + sOutput));
                    return "delete " + sOutput;
                }
                if (m_bWriteTimesOnly)
                    break;
                std::string sBytes = ReadFile(TempPath("inc/" + sOutput));
                sBytes[Next() % sBytes.size()] ^= 0x20;
                Rewrite(sOutput, sBytes);
                return "damage " + sOutput;
            }
        case 7: // a new source
        {
            const std::string sNew = Pick(folders) + "/m" + std::to_string(Next() % 4) + ".Fx00a";
            if (fs::exists(TempPath("inc/" + sNew)))
                break;
            WriteFile(TempPath("inc/" + sNew), EffectText(Next(), Next(), Chance(10)));
            return "new " + sNew;
        }
        default: // a source deleted
            if (sources.size() < 3)
                break;
            {
                const std::string sSource = Pick(sources);
                fs::remove(TempPath("inc/" + sSource));
                return "delete " + sSource;
            }
        }
        return std::string();
    }

    // A forced pack of a copy of the tree without its outputs, with no records.
    Outcomes CleanPack()
    {
        fs::remove_all(TempPath("clean"));
        fs::remove_all(TempPath("clean-cache"));
        for (fs::recursive_directory_iterator it(TempPath("inc")), end; it != end; ++it)
        {
            const fs::path relative = fs::relative(it->path(), TempPath("inc"));
            const std::string sExtension = Lower(it->path().extension().string());
            if (it->is_directory() || sExtension == ".fx00p" || sExtension == ".d" ||
                relative.generic_string() == "build.ninja" || relative.string()[0] == '.')
                continue;
            fs::create_directories(TempPath((fs::path("clean") / relative.parent_path()).string()));
            fs::copy_file(it->path(), TempPath((fs::path("clean") / relative).string()));
        }
        SetEnv("ZQPACK_CACHE_DIR", TempPath("clean-cache").c_str());
        fs::current_path(TempPath("clean"));
        const RunResult run =
            RunProgram("zqpack", {"--plugin", PLUGIN, "--json", "--force", "--no-workers", "fx"});
        fs::current_path(TempDir());
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
        return ParseJson(run.sOut);
    }

    // zqpack in the tree, in one of its modes (or twice at once); its outcomes, unless two ran.
    std::optional<Outcomes> Incremental(const std::string& sMode)
    {
        SetEnv("ZQPACK_CACHE_DIR", TempPath("cache").c_str());
        fs::current_path(TempPath("inc"));
        std::optional<Outcomes> outcomes;
        if (sMode == "twice")
        {
            std::vector<const char*> args = {"--plugin", PLUGIN.c_str(), "-q", "-j2", "fx"};
            PlatformProcess ahRuns[2];
            for (int i = 0; i < 2; ++i)
                ahRuns[i] = PlatformStartProcess(BinProgram("zqpack").c_str(), args.data(), args.size(),
                                                 TempPath("twice" + std::to_string(i) + ".out").c_str(),
                                                 TempPath("twice" + std::to_string(i) + ".err").c_str());
            for (PlatformProcess& hRun : ahRuns)
            {
                int nExit = 0;
                if (hRun)
                {
                    EXPECT_EQ(0, PlatformWaitAnyProcess(&hRun, 1, &nExit));
                }
            }
        }
        else if (sMode == "ninja")
        {
            outcomes = Ninja();
        }
        else
        {
            outcomes = ParseJson(RunProgram("zqpack", {"--plugin", PLUGIN, "--json", sMode, "fx"}).sOut);
        }
        fs::current_path(TempDir());
        return outcomes;
    }

    // ninja with the build.ninja that zqpack wrote once; build.ninja follows the tree by itself. A
    // source whose output ninja failed to make failed; the rest packed.
    static Outcomes Ninja()
    {
        if (!fs::exists("build.ninja"))
        {
            EXPECT_EQ(
                0, RunProgram("zqpack", {"--plugin", PLUGIN, "--emit-ninja", "--output", "build.ninja", "fx"})
                       .nExit);
        }
        std::vector<const char*> args = {"-k", "0"};
        PlatformProcess hNinja =
            PlatformStartProcess(EMBERVISE_NINJA, args.data(), args.size(), TempPath("ninja.out").c_str(),
                                 TempPath("ninja.err").c_str());
        int nExit = 0;
        if (hNinja)
            PlatformWaitAnyProcess(&hNinja, 1, &nExit);
        const std::string sOut = ReadFile(TempPath("ninja.out"));
        std::set<std::string> failed;
        static const std::regex line("FAILED: ([^\n]*?) ?\n");
        for (std::sregex_iterator it(sOut.begin(), sOut.end(), line), end; it != end; ++it)
            failed.insert((*it)[1].str());
        Outcomes outcomes;
        std::error_code ec;
        for (fs::recursive_directory_iterator it("fx", ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file() && IsSource(it->path()))
            {
                const std::string sSource = it->path().generic_string();
                const std::string sOutput = fs::path(sSource).replace_extension(".Fx00p").generic_string();
                outcomes.results[sSource] = failed.count(sOutput) ? "failed" : "packed";
            }
        return outcomes;
    }

    // Whether two sources of the tree would be packed into one file (ninja cannot have both).
    bool HasCollision() const
    {
        std::set<std::string> outputs;
        for (const std::string& sSource : Sources())
            if (!outputs.insert(Lower(fs::path(sSource).replace_extension().string())).second)
                return true;
        return false;
    }

    // The sources whose incremental outcome differs from the clean one.
    std::vector<std::string> Compare(const std::optional<Outcomes>& incremental, const Outcomes& clean)
    {
        std::vector<std::string> stale;
        for (const std::string& sSource : Sources())
        {
            const auto cleanResult = clean.results.find(sSource);
            const bool bCleanPacked = cleanResult != clean.results.end() && cleanResult->second == "packed";
            if (incremental)
            {
                const auto result = incremental->results.find(sSource);
                const bool bPacked = result != incremental->results.end() &&
                                     (result->second == "packed" || result->second == "up-to-date");
                if (bPacked != bCleanPacked)
                {
                    stale.push_back(sSource + " (" +
                                    (result == incremental->results.end() ? "none" : result->second) + ")");
                    continue;
                }
            }
            const std::string sOutput = fs::path(sSource).replace_extension(".Fx00p").string();
            if (bCleanPacked &&
                ReadFile(TempPath("inc/" + sOutput)) != ReadFile(TempPath("clean/" + sOutput)))
                stale.push_back(sOutput);
        }
        return stale;
    }

    std::mt19937 m_random;
    // Ninja sees a change only through write times, by design: a file rewritten with its write time
    // put back is invisible to it, and so is a damaged output (a restat edge trusts the output it
    // made until an input is newer), and so is what such an edit leaves for later steps (a source
    // that zqpack failed keeps its old output, which Ninja still trusts). In the phase where ninja
    // runs, no edit hides from write times; the phase before it makes them all.
    bool m_bWriteTimesOnly = false;
};

TEST_F(ZqpackDifferential, IncrementalRunsPackWhatACleanPackPacks)
{
#if defined(_WIN32)
    // Process starts cost much more under Wine: a short sequence there.
    const unsigned nSeeds = EnvNumber("ZQPACK_STALE_SEEDS", 1);
    const unsigned nSteps = EnvNumber("ZQPACK_STALE_STEPS", 10);
#elif defined(EMBERVISE_SANITIZED)
    // Every program runs several times slower under the sanitizers.
    const unsigned nSeeds = EnvNumber("ZQPACK_STALE_SEEDS", 2);
    const unsigned nSteps = EnvNumber("ZQPACK_STALE_STEPS", 15);
#else
    const unsigned nSeeds = EnvNumber("ZQPACK_STALE_SEEDS", 4);
    const unsigned nSteps = EnvNumber("ZQPACK_STALE_STEPS", 45);
#endif
    const unsigned nFirstSeed = EnvNumber("ZQPACK_STALE_FIRST_SEED", 1);
    // In-process runs cost least; every mode comes up in every seed, ninja in its last third.
    const std::vector<std::string> modes = {"--no-workers", "--no-workers", "--no-workers",
                                            "-j1",          "-j2",          "twice"};
    std::vector<std::string> ninjaModes = modes;
    ninjaModes.insert(ninjaModes.end(), 3, "ninja");
    // ninja where it is installed (and runs: not for the Windows programs under Wine).
#if defined(_WIN32)
    const bool bNinja = false;
#else
    const bool bNinja = !std::string(EMBERVISE_NINJA).empty();
#endif
    unsigned nTotalSteps = 0, nStale = 0, nNinjaSteps = 0;
    for (unsigned nSeed = nFirstSeed; nSeed < nFirstSeed + nSeeds; ++nSeed)
    {
        m_random.seed(nSeed);
        MakeTree();
        std::string sTrace;
        for (unsigned nStep = 0; nStep < nSteps; ++nStep)
        {
            m_bWriteTimesOnly = bNinja && nStep >= nSteps - nSteps / 3;
            for (int nEdits = 1 + static_cast<int>(Next() % 2); nEdits > 0; --nEdits)
                sTrace += Edit() + "; ";
            std::string sMode = Pick(m_bWriteTimesOnly ? ninjaModes : modes);
            if (sMode == "ninja" && HasCollision())
                sMode = "--no-workers";
            nNinjaSteps += sMode == "ninja" ? 1 : 0;
            const std::optional<Outcomes> incremental = Incremental(sMode);
            const std::vector<std::string> stale = Compare(incremental, CleanPack());
            ++nTotalSteps;
            nStale += static_cast<unsigned>(stale.size());
            for (const std::string& sWhat : stale)
                ADD_FAILURE() << "seed " << nSeed << " step " << nStep << " (" << sMode << "): " << sWhat
                              << " differs from a clean pack after: ..."
                              << sTrace.substr(sTrace.size() > 400 ? sTrace.size() - 400 : 0);
            sTrace += "[" + sMode + "] ";
        }
    }
    std::printf("differential: seeds %u-%u, %u steps (%u with ninja), %u stale outputs\n", nFirstSeed,
                nFirstSeed + nSeeds - 1, nTotalSteps, nNinjaSteps, nStale);
    EXPECT_EQ(0u, nStale);
}
} // namespace
