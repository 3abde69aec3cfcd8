// fxdump's views of packed files run for real: the effect listing, source text that packs to the
// same bytes, the comparison of two files, curve points as CSV and the HTML page in a browser.
#include "packed_demo.h"
#include "test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <random>

namespace
{
const std::string MODULE = BinLibrary("sparkrig_sample");

// Writes a project folder with a locator naming the sample module, and the given sources in it.
fs::path Project(const std::string& sName)
{
    const fs::path dir = TempPath(sName);
    WriteFile((dir / "fx.proj00").string(),
              "[General]\nGame=Test\n[Project Binaries]\nSparkrig=" + MODULE + "\n");
    return dir;
}

RunResult Pack(const fs::path& path)
{
    return RunProgram("zqpack", {"--plugin", BinLibrary("Embervise"), path.string()});
}

// The demo project copied and packed with the sample module; its packed files, sorted.
std::vector<std::string> PackedDemo(fs::path& demo)
{
    return PackDemoCopy("demo", demo);
}

size_t Count(const std::string& sText, const std::string& sWhat)
{
    size_t n = 0;
    for (size_t nAt = sText.find(sWhat); nAt != std::string::npos; nAt = sText.find(sWhat, nAt + 1))
        ++n;
    return n;
}

// The headless browser, when one is installed (EMBERVISE_CHROMIUM names another).
std::string FindChromium()
{
#if defined(_WIN32)
    return std::string();
#else
    if (const char* psz = std::getenv("EMBERVISE_CHROMIUM"))
        return psz;
    const char* pszPath = std::getenv("PATH");
    std::string sPath = pszPath ? pszPath : "";
    for (size_t nStart = 0; nStart <= sPath.size();)
    {
        const size_t nEnd = std::min(sPath.find(':', nStart), sPath.size());
        for (const char* pszName : {"chromium", "chromium-browser"})
        {
            const fs::path candidate = fs::path(sPath.substr(nStart, nEnd - nStart)) / pszName;
            if (!candidate.parent_path().empty() && fs::is_regular_file(candidate))
                return candidate.string();
        }
        nStart = nEnd + 1;
    }
    return std::string();
#endif
}

// Runs the browser headless on a page with one more option (--dump-dom, --screenshot=...), in a
// fresh profile, bounded by timeout(1); its standard output.
std::string Browse(const std::string& sChromium, const std::string& sPage, const std::string& sOption)
{
    static int s_nRun = 0;
    const std::string sProfile = TempPath("profile-" + std::to_string(++s_nRun));
    std::vector<std::string> args = {"120",
                                     sChromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--hide-scrollbars",
                                     "--user-data-dir=" + sProfile,
                                     "--window-size=1000,1200",
                                     sOption,
                                     "file://" + sPage};
    std::vector<const char*> argv;
    for (const std::string& sArg : args)
        argv.push_back(sArg.c_str());
    const std::string sOut = TempPath("browser.out"), sErr = TempPath("browser.err");
    PlatformProcess hProcess =
        PlatformStartProcess("/usr/bin/timeout", argv.data(), argv.size(), sOut.c_str(), sErr.c_str());
    int nExit = -1;
    EXPECT_TRUE(hProcess);
    if (hProcess)
    {
        EXPECT_EQ(0, PlatformWaitAnyProcess(&hProcess, 1, &nExit));
    }
    EXPECT_EQ(0, nExit) << ReadFile(sErr);
    return ReadFile(sOut);
}

fs::path PackedName(fs::path source)
{
    return source.replace_extension(".Fx00p");
}

// A source of random effects over the sample module: overlapping keys on shared tracks, negative
// and large times, motion links, curves with times outside 0..1, colours, vectors, mapped file
// names, enum choices in another letter case and quoted strings.
std::string GeneratedSource(unsigned nSeed)
{
    std::mt19937 random(nSeed);
    const auto pick = [&random](int nLow, int nHigh)
    { return std::uniform_int_distribution<int>(nLow, nHigh)(random); };
    const auto number = [&random](double dLow, double dHigh)
    {
        char sz[32];
        std::snprintf(sz, sizeof(sz), "%.*g", static_cast<int>(random() % 9) + 1,
                      std::uniform_real_distribution<double>(dLow, dHigh)(random));
        return std::string(sz);
    };
    const auto curve = [&](int nArity, bool bColour)
    {
        std::string s = "(value-list";
        for (int k = pick(0, 4); k > 0; --k)
        {
            s += " (value (time " + number(-0.3, 1.4) + ") (data";
            for (int i = 0; i < nArity; ++i)
                s += " " + (bColour ? std::to_string(pick(0, 300)) : number(-50, 50));
            s += "))";
        }
        return s + ")";
    };
    std::string s = "(header (version 1))\n(effect-tree\n";
    for (int e = pick(1, 4); e > 0; --e)
    {
        s += " (container (name c) (children (effect (name \"gen " + std::to_string(e) + "\") (length " +
             std::to_string(pick(0, 5000)) + ") (key-list\n";
        for (int k = pick(0, 8); k > 0; --k)
        {
            const int nStart = pick(0, 9) == 0 ? pick(-500, 0) : pick(0, 4000);
            const int nEnd = pick(0, 9) == 0 ? 20000000 + pick(0, 1000) : nStart + pick(-100, 3000);
            s += "  (key (id " + std::to_string(pick(0, 20)) + ") (track " + std::to_string(pick(0, 3)) +
                 ") (start-time " + std::to_string(nStart) + ") (end-time " + std::to_string(nEnd) + ")";
            if (pick(0, 2) == 0)
                s += " (motion-link (id " + std::to_string(pick(0, 20)) + "))";
            switch (pick(0, 4))
            {
            case 0:
                s += " (type Sprite) (properties (property (name size) (type Float) " + curve(1, false) +
                     ") (property (name Color) (type Color) " + curve(4, true) +
                     ") (property (name Texture) (type Filename) (value-list (value (time 0) (data "
                     "\"fx/a b.Texture00a\")))) (property (name BlendMode) (type Enum) (value-list (value "
                     "(time 0) "
                     "(data alphablend)))))";
                break;
            case 1:
                s += " (type Model) (properties (property (name Scale) (type Vector) " + curve(3, false) +
                     ") (property (name Tint) (type Color) " + curve(4, true) +
                     ") (property (name Animation) (type Animation) (value-list (value (time 0) (data \"run "
                     "(fast)\")))))";
                break;
            case 2:
                s += " (type Sound) (properties (property (name Priority) (type Int) (value-list (value "
                     "(time 0) (data " +
                     std::to_string(pick(-1000, 1000)) + ")))) (property (name Pitch) (type Float) " +
                     curve(1, false) + "))";
                break;
            case 3:
                s += " (type Marker) (properties (property (name Label) (type String) (value-list (value "
                     "(time 0) "
                     "(data \"\")))) (property (name Event) (type String) (value-list (value (time 0) (data "
                     "x)))))";
                break;
            default:
                s += " (type Light) (properties (property (name Intensity) (type Float) " + curve(1, false) +
                     "))";
            }
            s += ")\n";
        }
        s += "))))\n";
    }
    return s + ")\n";
}
} // namespace

TEST(FxdumpViews, ZqaPacksToTheSameBytes)
{
    // The demo, packed, turned back into text and packed again from there.
    fs::path demo;
    ASSERT_EQ(12u, PackDemoCopy("demo", demo).size());

    // Generated sources, plain and compressed.
    const fs::path generated = Project("generated");
    for (unsigned nSeed = 1; nSeed <= 12; ++nSeed)
    {
        const std::string sSource = WriteFile(
            (generated / ("gen" + std::to_string(nSeed) + ".Fx00a")).string(), GeneratedSource(nSeed));
        if (nSeed % 3 == 0)
        {
            ASSERT_EQ(0, RunProgram("zqa", {"compress", sSource}).nExit);
            fs::remove(sSource);
        }
    }
    const RunResult packed = Pack(generated);
    ASSERT_EQ(0, packed.nExit) << packed.sErr;

    const fs::path again = Project("again");
    std::vector<std::pair<fs::path, fs::path>> pairs; // packed file, its text's packed file
    for (const fs::path& root : {demo, generated})
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
            if (entry.path().extension() == ".Fx00p")
            {
                const fs::path text = again / (std::to_string(pairs.size()) + ".Fx00a");
                const RunResult zqa =
                    RunProgram("fxdump", {"--zqa", "--module", MODULE, entry.path().string()});
                ASSERT_EQ(0, zqa.nExit) << entry.path() << zqa.sErr;
                WriteFile(text.string(), zqa.sOut);
                // What cannot be given back is noted: curves whose times lie outside 0..1 in a way
                // that a second normalisation changes. The demo has none.
                if (zqa.sOut.find("(note") == std::string::npos)
                    pairs.emplace_back(entry.path(), PackedName(text));
                else
                    EXPECT_NE(std::string::npos, zqa.sOut.find("changes when the loader normalises it again"))
                        << entry.path() << "\n"
                        << zqa.sOut;
                EXPECT_TRUE(root == generated || zqa.sOut.find("(note") == std::string::npos);
            }
    EXPECT_LE(18u, pairs.size());
    const RunResult repacked = Pack(again);
    ASSERT_EQ(0, repacked.nExit) << repacked.sErr;
    for (const auto& pair : pairs)
        EXPECT_TRUE(ReadBytes(pair.first.string()) == ReadBytes(pair.second.string())) << pair.first;
}

TEST(FxdumpViews, EffectListingWithModuleAndUnsafeNames)
{
    // One Light key: Color and Intensity given, the rest the sample module's defaults. The name
    // carries an escape sequence that would retitle a terminal.
    const std::string sName = "T\x1B]0;x\x07";
    const fs::path dir = Project("listing");
    const std::string sSource =
        WriteFile((dir / "t.Fx00a").string(),
                  "(header (version 1))(effect-tree (effect (name \"" + sName +
                      "\") (length 2000) (key-list (key (type Light) (id 4) (track 0) "
                      "(start-time 250) (end-time 1500) (motion-link (id 9)) (properties "
                      "(property (name Color) (type Color) (value-list (value (time 0) (data "
                      "255 150 60 255)))) (property (name Intensity) (type Float) (value-list "
                      "(value (time 0) (data 1.2)) (value (time 0.5) (data 0.9)))))))))");
    ASSERT_EQ(0, Pack(sSource).nExit);
    const std::string sPacked = PackedName(sSource).string();

    // Curve records: Color 4 + 2 x 20 bytes at 0, Intensity 4 + 2 x 8 at 44, Radius 4 + 8 at 64.
    // File: 80 header and counts, 80 strings, 76 curves, 12 effect, 24 key, 92 properties, 4 index.
    RunResult result = RunProgram("fxdump", {"--module", MODULE, "--effect", sName, sPacked});
    EXPECT_EQ(0, result.nExit) << result.sErr;
    EXPECT_EQ(sPacked + ": packed effect file, 368 bytes\n"
                        "  effect \"T\\x1B]0;x\\x07\", 2000 ms, 1 keys\n"
                        "    key 4: type 2 Light, 0.25 s to 1.5 s, motion link 9, 7 properties\n"
                        "      LightType (Enum) = Point (0)\n"
                        "      Color (Color) = curve @0: 0: 255 150 60 255 (0xFFFF963C), 1: 255 192 128 255 "
                        "(0xFFFFC080)\n"
                        "      Intensity (Float) = curve @44: 0: 1.2, 1: 0.9\n"
                        "      Radius (Float) = curve @64: 0: 5\n"
                        "      ConeAngle (Float) = 45\n"
                        "      Offset (Vector) = (0 0.5 0)\n"
                        "      CastShadows (Enum) = No (0)\n",
              result.sOut);

    result = RunProgram("fxdump", {"--module", MODULE, "--csv", sPacked});
    EXPECT_EQ(0, result.nExit);
    const std::string sRow = sPacked + ",T\\x1B]0;x\\x07,4,Light,";
    EXPECT_EQ("file,effect,key,type,property,time,value,value2,value3,value4\n" + sRow +
                  "Color,0,255,150,60,255\n" + sRow + "Color,1,255,192,128,255\n" + sRow +
                  "Intensity,0,1.2\n" + sRow + "Intensity,1,0.9\n" + sRow + "Radius,0,5\n",
              result.sOut);

    // Nothing from the file reaches a terminal raw, in the listing or in --verify's messages.
    result = RunProgram("fxdump", {"--project", sPacked});
    EXPECT_EQ(std::string::npos, result.sOut.find('\x1B'));
    EXPECT_EQ(std::string::npos, result.sOut.find('\x07'));
}

TEST(FxdumpViews, CurveRecordsAreShownOnlyWhenTheyFitTheirSection)
{
    // A Light key with the module's default curves; the last record ends where the section ends.
    const fs::path dir = Project("overrun");
    const std::string sSource =
        WriteFile((dir / "o.Fx00a").string(), "(header (version 1))(effect-tree (effect (name o) (length 10) "
                                              "(key-list (key (type Light) (id 1) (track 0) (start-time 0) "
                                              "(end-time 10)))))");
    ASSERT_EQ(0, Pack(sSource).nExit);
    const std::string sPacked = PackedName(sSource).string();
    nlohmann::json listing =
        nlohmann::json::parse(RunProgram("fxdump", {"--json", "--module", MODULE, sPacked}).sOut);
    const nlohmann::json* pLast = nullptr;
    for (const nlohmann::json& prop : listing["effects"][0]["keys"][0]["properties"])
        if (prop.contains("curve") && (!pLast || prop["curve"] > (*pLast)["curve"]))
            pLast = &prop;
    ASSERT_TRUE(pLast && pLast->contains("points"));
    const std::string sName = (*pLast)["name"], sType = (*pLast)["type"];
    const uint32_t nCurve = (*pLast)["curve"];
    const size_t nKeys = (*pLast)["points"].size();
    const nlohmann::json& header = listing["header"];
    const size_t nCountAt =
        header["stringTableOffset"].get<size_t>() + header["stringTableSize"].get<size_t>() + nCurve;

    // One key more than the section holds: every view says there is no record, none reads on.
    Bytes bytes = ReadBytes(sPacked);
    ASSERT_EQ(nKeys, WordAt(bytes, nCountAt));
    PutWord(bytes, nCountAt, static_cast<uint32_t>(nKeys + 1));
    WriteFile(sPacked, bytes);
    listing = nlohmann::json::parse(RunProgram("fxdump", {"--json", "--module", MODULE, sPacked}).sOut);
    bool bSeen = false;
    for (const nlohmann::json& prop : listing["effects"][0]["keys"][0]["properties"])
        if (prop["name"] == sName)
        {
            bSeen = true;
            EXPECT_EQ(nCurve, prop["curve"]);
            EXPECT_FALSE(prop.contains("points")) << prop;
        }
    EXPECT_TRUE(bSeen);
    EXPECT_NE(std::string::npos, RunProgram("fxdump", {"--module", MODULE, sPacked})
                                     .sOut.find(sName + " (" + sType + ") = curve @" +
                                                std::to_string(nCurve) + " (no curve record there)"));
    EXPECT_EQ(std::string::npos,
              RunProgram("fxdump", {"--csv", "--module", MODULE, sPacked}).sOut.find("," + sName + ","));
}

TEST(FxdumpViews, DiffNamesTheOneChange)
{
    const fs::path dir = Project("diff");
    const std::string sOld =
        (fs::path(EMBERVISE_SOURCE_DIR) / "demo/fx/ambient/torch_flicker.Fx00a").string();
    std::string sText = ReadFile(sOld);
    WriteFile((dir / "old.Fx00a").string(), sText);
    const size_t nAt = sText.find("(data 1.3)");
    ASSERT_NE(std::string::npos, nAt);
    WriteFile((dir / "new.Fx00a").string(), sText.replace(nAt, 10, "(data 1.4)"));
    WriteFile((dir / "same.Fx00a").string(), ReadFile(sOld));
    ASSERT_EQ(0, Pack(dir).nExit);
    const std::string sA = (dir / "old.Fx00p").string(), sB = (dir / "new.Fx00p").string(),
                      sSame = (dir / "same.Fx00p").string();

    RunResult result = RunProgram("fxdump", {"--diff", "--module", MODULE, sA, sB});
    EXPECT_EQ(1, result.nExit) << result.sErr;
    EXPECT_EQ("~ effect \"Torch_Flicker\" key Light 1 Intensity: point 2: 0.4: 1.3 -> 0.4: 1.4\n",
              result.sOut);
    result = RunProgram("fxdump", {"--diff", "--json", "--module", MODULE, sA, sB});
    EXPECT_EQ(1, result.nExit);
    const nlohmann::json diff = nlohmann::json::parse(result.sOut);
    ASSERT_EQ(1u, diff["changes"].size());
    EXPECT_EQ("Intensity", diff["changes"][0]["property"]);
    EXPECT_EQ(1, diff["changes"][0]["keyId"]);
    EXPECT_FLOAT_EQ(1.4f, diff["changes"][0]["new"]["value"].get<float>());
    // Without the module the curve is not decoded, but the change is still seen.
    EXPECT_EQ(1, RunProgram("fxdump", {"--diff", sA, sB}).nExit);

    result = RunProgram("fxdump", {"--diff", "--module", MODULE, sA, sSame});
    EXPECT_EQ(0, result.nExit);
    EXPECT_EQ(sA + " and " + sSame + " hold the same effects\n", result.sOut);
    EXPECT_EQ(2, RunProgram("fxdump", {"--diff", sA, TempPath("missing.Fx00p")}).nExit);

    // Key times read in milliseconds and colours in 0-255 channels, in the text and in JSON. The
    // Light key (id 1) starts at 250 ms instead of 0, its colour 255 150 60 has alpha 128, not 255.
    sText = ReadFile(sOld);
    for (const auto& edit :
         {std::make_pair(std::string("(id 1) (track 0) (start-time 0)"),
                         std::string("(id 1) (track 0) (start-time 250)")),
          std::make_pair(std::string("(data 255 150 60 255)"), std::string("(data 255 150 60 128)"))})
    {
        const size_t nEdit = sText.find(edit.first);
        ASSERT_NE(std::string::npos, nEdit) << edit.first;
        sText.replace(nEdit, edit.first.size(), edit.second);
    }
    WriteFile((dir / "moved.Fx00a").string(), sText);
    ASSERT_EQ(0, Pack(dir / "moved.Fx00a").nExit);
    const std::string sMoved = (dir / "moved.Fx00p").string();
    result = RunProgram("fxdump", {"--diff", "--project", sA, sMoved});
    EXPECT_EQ(1, result.nExit) << result.sErr;
    EXPECT_EQ(
        "~ effect \"Torch_Flicker\" key Light 1: start 0 ms -> 250 ms\n"
        "~ effect \"Torch_Flicker\" key Light 1 Color: point 0: 0: 255 150 60 255 (0xFFFF963C) -> 0: 255 150 "
        "60 128 (0x80FF963C)\n",
        result.sOut);
    // With --project the module comes from whichever side has a locator above it.
    const std::string sCopy = TempPath("elsewhere/moved.Fx00p");
    fs::create_directories(fs::path(sCopy).parent_path());
    fs::copy_file(sMoved, sCopy);
    result = RunProgram("fxdump", {"--diff", "--json", "--project", sCopy, sA});
    EXPECT_EQ(1, result.nExit) << result.sErr;
    const nlohmann::json moved = nlohmann::json::parse(result.sOut)["changes"];
    ASSERT_EQ(2u, moved.size()) << moved;
    EXPECT_EQ("start", moved[0]["what"]);
    EXPECT_EQ(250, moved[0]["old"]);
    EXPECT_EQ(0, moved[0]["new"]);
    EXPECT_EQ(nlohmann::json::parse("[255,150,60,128]"), moved[1]["old"]["value"]);
    EXPECT_EQ(nlohmann::json::parse("[255,150,60,255]"), moved[1]["new"]["value"]);
    result = RunProgram("fxdump", {"--diff", "--project", sCopy, sCopy});
    EXPECT_EQ(2, result.nExit);
    EXPECT_EQ(2u, Count(result.sErr, "no effect module: no project locator file")) << result.sErr;

    // An effect renamed is one removed and one added.
    WriteFile((dir / "renamed.Fx00a").string(),
              std::regex_replace(ReadFile(sOld), std::regex("Torch_Flicker"), std::string("Torch_2")));
    ASSERT_EQ(0, Pack(dir / "renamed.Fx00a").nExit);
    result = RunProgram("fxdump", {"--diff", sA, (dir / "renamed.Fx00p").string()});
    EXPECT_EQ(1, result.nExit);
    EXPECT_EQ("- effect \"Torch_Flicker\"\n+ effect \"Torch_2\"\n", result.sOut);
}

TEST(FxdumpViews, PageIsSelfContainedAndRendersInChromium)
{
    fs::path demo;
    const std::vector<std::string> packed = PackedDemo(demo);
    std::vector<std::string> args = {"--html", "--module", MODULE};
    args.insert(args.end(), packed.begin(), packed.end());
    const RunResult page = RunProgram("fxdump", args);
    ASSERT_EQ(0, page.nExit) << page.sErr;
    size_t nKeys = 0, nEffects = 0;
    for (const std::string& sFile : packed)
    {
        const nlohmann::json listing = nlohmann::json::parse(RunProgram("fxdump", {"--json", sFile}).sOut);
        nKeys += listing["header"]["numKeys"].get<size_t>();
        nEffects += listing["header"]["numEffects"].get<size_t>();
    }
    ASSERT_LT(20u, nKeys);
    // Nothing is fetched; effects start collapsed, each in the index.
    for (const char* pszOutside : {"http:", "https:", "src=", "<script", "<link", "@import", "url(http"})
        EXPECT_EQ(std::string::npos, page.sOut.find(pszOutside)) << pszOutside;
    EXPECT_EQ(nEffects, Count(page.sOut, "<details class=\"effect\""));
    EXPECT_EQ(0u, Count(page.sOut, " open>"));
    EXPECT_EQ(nEffects, Count(page.sOut, "<li><a href=\"#e"));
    const std::string sPage = WriteFile(TempPath("demo.html"), page.sOut);

    const std::string sChromium = FindChromium();
    if (sChromium.empty() || !fs::is_regular_file("/usr/bin/timeout"))
        GTEST_SKIP() << "chromium is not installed: the page is not checked in a browser";
    // The browser's DOM holds one bar per key.
    const std::string sDom = Browse(sChromium, sPage, "--dump-dom");
    EXPECT_EQ(nKeys, Count(sDom, "class=\"bar\"")) << sDom.substr(0, 2000);

    // One effect, open, is drawn: its picture is far richer than a blank page's of the same size.
    const RunResult one = RunProgram("fxdump", {"--html", "--module", MODULE, "--effect", "Torch_Flicker",
                                                (demo / "fx/ambient/torch_flicker.Fx00p").string()});
    const std::string sOne = WriteFile(TempPath("one.html"), one.sOut);
    EXPECT_EQ(1u, Count(one.sOut, " open>"));
    const std::string sBlank = WriteFile(TempPath("blank.html"), "<!DOCTYPE html><html><body></body></html>");
    Browse(sChromium, sOne, "--screenshot=" + TempPath("one.png"));
    Browse(sChromium, sBlank, "--screenshot=" + TempPath("blank.png"));
    const Bytes shot = ReadBytes(TempPath("one.png")), blank = ReadBytes(TempPath("blank.png"));
    ASSERT_LT(8u, shot.size());
    EXPECT_EQ(0, std::memcmp(shot.data() + 1, "PNG", 3));
    EXPECT_LT(10 * blank.size(), shot.size()) << blank.size() << " " << shot.size();
}

TEST(FxdumpViews, DamagedFilesNeverCrashAnyView)
{
    // The packed reader's fuzz corpus, each file damaged in 30 seeded ways (9 under the sanitizers,
    // where every run costs more): bytes flipped, words set to small or huge numbers, the file cut
    // short. Every view ends with 0 or 1.
#ifdef EMBERVISE_SANITIZED
    const int nCases = 9;
#else
    const int nCases = 30;
#endif
    std::mt19937 random(12);
    size_t nRuns = 0;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(EMBERVISE_SOURCE_DIR) / "fuzz/corpus/fuzz_packed_reader"))
    {
        const Bytes original = ReadBytes(entry.path().string());
        ASSERT_LT(40u, original.size());
        for (int nCase = 0; nCase < nCases; ++nCase)
        {
            Bytes bytes = original;
            const size_t nAt = random() % (bytes.size() - 3);
            switch (nCase % 3)
            {
            case 0:
                bytes[nAt] ^= static_cast<uint8_t>(1u << (random() % 8));
                break;
            case 1:
                PutWord(bytes, nAt & ~size_t(3),
                        random() % 2 ? static_cast<uint32_t>(random() % 64) : 0xFFFFFFF0u);
                break;
            default:
                bytes.resize(nAt);
            }
            const std::string sPath = WriteFile(TempPath("damaged.Fx00p"), bytes);
            for (const char* pszView : {"--zqa", "--html", "--csv", "--json"})
            {
                const RunResult result = RunProgram("fxdump", {pszView, "--module", MODULE, sPath});
                EXPECT_TRUE(result.nExit == 0 || result.nExit == 1)
                    << pszView << " on " << entry.path().filename() << " case " << nCase << ": "
                    << result.nExit;
                ++nRuns;
            }
        }
    }
    EXPECT_EQ(4u * static_cast<size_t>(nCases) * 4u, nRuns);
}
