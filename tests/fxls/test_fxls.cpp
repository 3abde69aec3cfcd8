// fxls: the scripted sessions of sessions/*.session, the findings compared with fxcheck's over the
// checker's cases and the demo, incremental edits against whole texts, positions after non-ASCII
// text, and the framing and exit status of a served session.
#include "document.h"
#include "fxcheck_cases.h"
#include "log.h"
#include "server.h"
#include "syntax.h"
#include "test_support.h"
#include "transport.h"
#include "zqafile.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

using nlohmann::json;

namespace
{
std::string Frame(const std::string& sBody)
{
    return "Content-Length: " + std::to_string(sBody.size()) + "\r\n\r\n" + sBody;
}

// The framed messages of a stream; a malformed frame fails the test.
std::vector<json> Unframe(const std::string& sStream)
{
    std::vector<json> messages;
    size_t nAt = 0;
    while (nAt < sStream.size())
    {
        const size_t nBreak = sStream.find("\r\n\r\n", nAt);
        EXPECT_NE(nBreak, std::string::npos) << sStream.substr(nAt, 200);
        if (nBreak == std::string::npos)
            break;
        const std::string sHeader = sStream.substr(nAt, nBreak - nAt);
        EXPECT_EQ(sHeader.rfind("Content-Length: ", 0), 0u) << sHeader;
        const size_t nLength = std::stoul(sHeader.substr(16));
        messages.push_back(json::parse(sStream.substr(nBreak + 4, nLength)));
        nAt = nBreak + 4 + nLength;
    }
    return messages;
}

// A server driven message by message, its output read back from a file.
class CSession
{
public:
    explicit CSession(const std::string& sName)
        : m_sOutPath(TempPath(sName + ".out")), m_pOut(std::fopen(m_sOutPath.c_str(), "w+b")),
          m_Transport(nullptr, m_pOut), m_Server(m_Transport, m_Log, ServerOptions())
    {
        if (std::getenv("FXLS_TEST_LOG"))
            m_Log.Open("");
    }
    ~CSession() { std::fclose(m_pOut); }

    void Send(const json& message) { m_Server.Receive(message); }

    // What the server sent since the last call, after checking every document waiting for it.
    std::vector<json> Received()
    {
        m_Server.CheckWaitingNow();
        std::fflush(m_pOut);
        std::fseek(m_pOut, static_cast<long>(m_nRead), SEEK_SET);
        std::string sNew;
        char buffer[65536];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), m_pOut)) > 0;)
            sNew.append(buffer, n);
        m_nRead += sNew.size();
        std::fseek(m_pOut, 0, SEEK_END);
        return Unframe(sNew);
    }

    CServer& Server() { return m_Server; }

private:
    std::string m_sOutPath;
    std::FILE* m_pOut;
    size_t m_nRead = 0;
    CLog m_Log;
    CTransport m_Transport;
    CServer m_Server;
};

// Every member of `expected` is in `actual` with a matching value; arrays match element by element,
// or, when the first expected element is "...", each further one matches some actual element; a
// string beginning with "~" matches any string that holds the rest.
bool Matches(const json& expected, const json& actual)
{
    if (expected.is_string() && expected.get<std::string>().rfind("~", 0) == 0)
        return actual.is_string() &&
               actual.get<std::string>().find(expected.get<std::string>().substr(1)) != std::string::npos;
    if (expected.is_array() && !expected.empty() && expected[0] == "...")
    {
        if (!actual.is_array())
            return false;
        for (size_t i = 1; i < expected.size(); ++i)
        {
            bool bAny = false;
            for (const json& element : actual)
                bAny = bAny || Matches(expected[i], element);
            if (!bAny)
                return false;
        }
        return true;
    }
    if (expected.is_object())
    {
        if (!actual.is_object())
            return false;
        for (auto it = expected.begin(); it != expected.end(); ++it)
        {
            if (!actual.contains(it.key()) || !Matches(it.value(), actual[it.key()]))
                return false;
        }
        return true;
    }
    if (expected.is_array())
    {
        if (!actual.is_array() || actual.size() != expected.size())
            return false;
        for (size_t i = 0; i < expected.size(); ++i)
        {
            if (!Matches(expected[i], actual[i]))
                return false;
        }
        return true;
    }
    return expected == actual;
}

std::string Uri(const std::string& sRelative)
{
    return PathToUri(fs::path(TempPath(sRelative)).generic_string());
}

// $URI{relative path} becomes the URI of that path in the test's folder.
std::string Expand(std::string sLine)
{
    for (size_t nAt; (nAt = sLine.find("$URI{")) != std::string::npos;)
    {
        const size_t nClose = sLine.find('}', nAt);
        sLine.replace(nAt, nClose + 1 - nAt, Uri(sLine.substr(nAt + 5, nClose - nAt - 5)));
    }
    return sLine;
}

void WriteProject()
{
    WriteTemp("proj/p.proj00", "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n");
}

// Runs one session file: "> JSON" is sent, "< JSON" must match a message the server sends after the
// one the previous "<" matched, "exit N" is the exit status the session must end with.
void RunSessionFile(const fs::path& file)
{
    SCOPED_TRACE(file.filename().string());
    WriteProject();
    CSession session(file.stem().string());
    std::ifstream in(file);
    std::vector<json> pending;
    size_t nNext = 0;
    int nLine = 0;
    for (std::string sLine; std::getline(in, sLine);)
    {
        ++nLine;
        if (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        if (sLine.empty() || sLine[0] == '#')
            continue;
        const std::string sWhere = file.filename().string() + ":" + std::to_string(nLine);
        if (sLine.rfind("> ", 0) == 0)
            session.Send(json::parse(Expand(sLine.substr(2))));
        else if (sLine.rfind("< ", 0) == 0)
        {
            for (json& message : session.Received())
                pending.push_back(std::move(message));
            const json expected = json::parse(Expand(sLine.substr(2)));
            bool bFound = false;
            while (!bFound && nNext < pending.size())
                bFound = Matches(expected, pending[nNext++]);
            std::string sSeen;
            for (const json& message : pending)
                sSeen += message.dump() + "\n";
            ASSERT_TRUE(bFound) << sWhere << ": nothing matches\n"
                                << expected.dump() << "\nreceived:\n"
                                << sSeen;
        }
        else if (sLine.rfind("exit ", 0) == 0)
        {
            EXPECT_TRUE(session.Server().HasExited()) << sWhere;
            EXPECT_EQ(session.Server().ExitStatus(), std::stoi(sLine.substr(5))) << sWhere;
        }
        else
            FAIL() << sWhere << ": not a session line";
    }
}
} // namespace

TEST(FxLs, ScriptedSessions)
{
    size_t nFiles = 0;
    for (const auto& entry : fs::directory_iterator(EMBERVISE_SOURCE_DIR "/tests/fxls/sessions"))
    {
        if (entry.path().extension() == ".session")
        {
            RunSessionFile(entry.path());
            ++nFiles;
        }
    }
    EXPECT_GE(nFiles, 4u);
}

namespace
{
struct Served
{
    int nExit;
    std::vector<json> messages;
};

// Serves a whole input stream the way the program does, with the reader thread and the debounce.
Served Serve(const std::string& sName, const std::string& sInput)
{
    const std::string sIn = WriteTemp(sName + ".in", sInput);
    const std::string sOut = TempPath(sName + ".out");
    std::FILE* pIn = std::fopen(sIn.c_str(), "rb");
    std::FILE* pOut = std::fopen(sOut.c_str(), "wb");
    int nExit;
    {
        CLog log;
        CTransport transport(pIn, pOut);
        ServerOptions options;
        options.nDebounceMs = 5;
        CServer server(transport, log, options);
        nExit = server.Run();
    }
    std::fclose(pIn);
    std::fclose(pOut);
    return {nExit, Unframe(ReadFile(sOut))};
}

std::string Request(int nId, const std::string& sMethod, const json& params = json::object())
{
    return Frame(json({{"jsonrpc", "2.0"}, {"id", nId}, {"method", sMethod}, {"params", params}}).dump());
}

std::string Notification(const std::string& sMethod, const json& params = json::object())
{
    return Frame(json({{"jsonrpc", "2.0"}, {"method", sMethod}, {"params", params}}).dump());
}
} // namespace

// Broken frames and bodies are answered or skipped and the session goes on; the exit status says
// whether "shutdown" came before "exit"; the end of the input without "exit" is status 1.
TEST(FxLs, FramingAndExitStatus)
{
    const std::string sStart = Request(1, "initialize", {{"capabilities", json::object()}});
    const std::string sBad = "Content-Length: 9\r\n\r\n{\"broken\"" +                      // not JSON
                             std::string("Content-Type: x\r\n\r\n") +                      // no length
                             "Content-Length: 12x\r\n\r\n" +                               // bad length
                             "content-length:   2\r\n\r\n{}" +                             // no method
                             Frame("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"nope\"}") + // unknown
                             "\r\n";
    Served served = Serve("framing", sStart + sBad + Request(3, "shutdown") + Notification("exit"));
    EXPECT_EQ(served.nExit, 0);
    std::vector<int> codes;
    for (const json& message : served.messages)
    {
        if (message.contains("error"))
            codes.push_back(message["error"]["code"]);
    }
    EXPECT_EQ(codes, std::vector<int>({-32700, -32700, -32700, -32600, -32601}));
    ASSERT_FALSE(served.messages.empty());
    EXPECT_EQ(served.messages.back(), json::parse(R"({"jsonrpc":"2.0","id":3,"result":null})"));

    EXPECT_EQ(Serve("noshutdown", sStart + Notification("exit")).nExit, 1);
    EXPECT_EQ(Serve("noexit", sStart + Request(3, "shutdown")).nExit, 1);
    // A body cut short by the end of the input.
    EXPECT_EQ(Serve("cut", sStart + "Content-Length: 100\r\n\r\n{\"jsonrpc\"").nExit, 1);
}

// A cancellation counts as soon as it is read, also for a request still waiting to be handled: the
// request gets the cancellation error, not a result.
TEST(FxLs, CancelledRequests)
{
    const std::string sUri = Uri("proj/cancel.Fx00a");
    const std::string sInput =
        Request(1, "initialize", {{"capabilities", json::object()}}) +
        Notification("$/cancelRequest", {{"id", 4}}) +
        Request(4, "textDocument/documentSymbol", {{"textDocument", {{"uri", sUri}}}}) +
        Request(5, "textDocument/documentSymbol", {{"textDocument", {{"uri", sUri}}}}) +
        Request(6, "shutdown") + Notification("exit");
    const Served served = Serve("cancel", sInput);
    EXPECT_EQ(served.nExit, 0);
    ASSERT_EQ(served.messages.size(), 4u);
    EXPECT_EQ(served.messages[1],
              json::parse(R"({"jsonrpc":"2.0","id":4,"error":{"code":-32800,"message":"cancelled"}})"));
    EXPECT_EQ(served.messages[2], json::parse(R"({"jsonrpc":"2.0","id":5,"result":null})"));
}

namespace
{
json Initialize(CSession& session, bool bUtf8)
{
    json capabilities = json::object();
    if (bUtf8)
        capabilities["general"] = {{"positionEncodings", {"utf-8"}}};
    session.Send({{"jsonrpc", "2.0"},
                  {"id", 0},
                  {"method", "initialize"},
                  {"params", {{"capabilities", capabilities}}}});
    return session.Received().at(0);
}

void Open(CSession& session, const std::string& sUri, const std::string& sText, int nVersion = 1)
{
    session.Send({{"jsonrpc", "2.0"},
                  {"method", "textDocument/didOpen"},
                  {"params",
                   {{"textDocument",
                     {{"uri", sUri}, {"languageId", "fx"}, {"version", nVersion}, {"text", sText}}}}}});
}

// The diagnostics published last for each URI.
std::map<std::string, json> Published(const std::vector<json>& messages)
{
    std::map<std::string, json> published;
    for (const json& message : messages)
    {
        if (message.value("method", "") == "textDocument/publishDiagnostics")
            published[message["params"]["uri"]] = message["params"]["diagnostics"];
    }
    return published;
}
} // namespace

// For every case of the checker's suite, the demo and the broken examples: the same findings, at the
// same places, with the same words and notes, from fxls on the unsaved text as from fxcheck on the
// file.
TEST(FxLs, SameFindingsAsFxcheck)
{
    WriteProject();
    std::vector<std::string> texts;
    for (const fxcheck_cases::Case& c : fxcheck_cases::Cases())
        texts.push_back(c.sText);
    for (const char* pszFolder : {"/demo", "/examples/broken"})
    {
        for (const auto& entry :
             fs::recursive_directory_iterator(EMBERVISE_SOURCE_DIR + std::string(pszFolder)))
        {
            if (entry.path().extension() == ".Fx00a")
                texts.push_back(ReadFile(entry.path().string()));
        }
    }
    CSession session("same");
    Initialize(session, true);
    std::vector<std::string> paths;
    for (size_t i = 0; i < texts.size(); ++i)
    {
        paths.push_back(WriteTemp("proj/same/s" + std::to_string(i) + ".Fx00a", texts[i]));
        Open(session, Uri("proj/same/s" + std::to_string(i) + ".Fx00a"), texts[i]);
    }
    const std::map<std::string, json> published = Published(session.Received());
    size_t nFindings = 0;
    for (size_t i = 0; i < paths.size(); ++i)
    {
        const RunResult run = RunProgram("fxcheck", {"--format", "json", paths[i]});
        json expected = json::array();
        std::istringstream lines(run.sOut);
        for (std::string sLine; std::getline(lines, sLine);)
        {
            const json finding = json::parse(sLine);
            const std::string sSeverity = finding["severity"];
            json diag = {{"line", finding["line"].get<int>() - 1},
                         {"character", finding["column"].get<int>() - 1},
                         {"severity", sSeverity == "error"     ? 1
                                      : sSeverity == "warning" ? 2
                                                               : 4},
                         {"code", finding["code"]},
                         {"message", finding["message"]},
                         {"notes", json::array()}};
            for (const json& note : finding.value("notes", json::array()))
                diag["notes"].push_back(
                    {note["line"].get<int>() - 1, note["column"].get<int>() - 1, note["message"]});
            expected.push_back(diag);
        }
        json actual = json::array();
        const auto it = published.find(Uri("proj/same/s" + std::to_string(i) + ".Fx00a"));
        ASSERT_NE(it, published.end()) << paths[i];
        for (const json& diag : it->second)
        {
            json item = {{"line", diag["range"]["start"]["line"]},
                         {"character", diag["range"]["start"]["character"]},
                         {"severity", diag["severity"]},
                         {"code", diag["code"]},
                         {"message", diag["message"]},
                         {"notes", json::array()}};
            for (const json& related : diag.value("relatedInformation", json::array()))
                item["notes"].push_back({related["location"]["range"]["start"]["line"],
                                         related["location"]["range"]["start"]["character"],
                                         related["message"]});
            EXPECT_EQ(diag["source"], "fxcheck");
            actual.push_back(item);
        }
        EXPECT_EQ(actual, expected) << paths[i] << "\n" << texts[i];
        nFindings += expected.size();
    }
    EXPECT_GE(nFindings, 40u);
}

namespace
{
// The UTF-16 position of a byte offset in valid UTF-8 text, counted here on its own.
json Utf16Position(const std::string& sText, size_t nOffset)
{
    int nLine = 0, nCharacter = 0;
    for (size_t i = 0; i < nOffset;)
    {
        const unsigned char b = static_cast<unsigned char>(sText[i]);
        if (b == '\r' || b == '\n')
        {
            i += b == '\r' && i + 1 < sText.size() && sText[i + 1] == '\n' ? 2 : 1;
            ++nLine;
            nCharacter = 0;
            continue;
        }
        const size_t nLength = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        nCharacter += nLength == 4 ? 2 : 1;
        i += nLength;
    }
    return {{"line", nLine}, {"character", nCharacter}};
}

// A character boundary at or after nOffset, never between "\r" and "\n".
size_t Boundary(const std::string& sText, size_t nOffset)
{
    while (nOffset < sText.size() && ((static_cast<unsigned char>(sText[nOffset]) & 0xC0) == 0x80 ||
                                      (nOffset > 0 && sText[nOffset - 1] == '\r' && sText[nOffset] == '\n')))
        ++nOffset;
    return nOffset;
}
} // namespace

// Seeded random edits sent as incremental changes in UTF-16 positions (non-ASCII text, "\r\n" and
// line breaks among them) leave the same document as the whole text: the same findings and outline
// as a fresh copy opened with the text the edits should give.
TEST(FxLs, IncrementalEditsMatchWholeTexts)
{
    WriteProject();
    std::string sText = ReadFile(EMBERVISE_SOURCE_DIR "/demo/fx/sword_trail.Fx00a");
    const std::vector<std::string> pieces = {"é",  "😀",  "(",    ")", "\n",       "\r\n",
                                             "\r", " x", "Size", "",  "(name Z)", "\"q"};
    std::mt19937 random(1234);
    CSession session("edits");
    Initialize(session, false);
    const std::string sUri = Uri("proj/edits/e.Fx00a");
    Open(session, sUri, sText);
    session.Received();
    for (int nVersion = 2; nVersion < 120; ++nVersion)
    {
        size_t nStart = Boundary(sText, random() % (sText.size() + 1));
        size_t nEnd = Boundary(sText, std::min(sText.size(), nStart + random() % 12));
        const std::string& sPiece = pieces[random() % pieces.size()];
        const json change = {
            {"range", {{"start", Utf16Position(sText, nStart)}, {"end", Utf16Position(sText, nEnd)}}},
            {"text", sPiece}};
        sText.replace(nStart, nEnd - nStart, sPiece);
        session.Send(
            {{"jsonrpc", "2.0"},
             {"method", "textDocument/didChange"},
             {"params",
              {{"textDocument", {{"uri", sUri}, {"version", nVersion}}}, {"contentChanges", {change}}}}});
        if (nVersion % 10 != 0)
            continue;
        const std::string sFresh = Uri("proj/edits/fresh" + std::to_string(nVersion) + ".Fx00a");
        Open(session, sFresh, sText);
        for (const std::string& sDoc : {sUri, sFresh})
            session.Send({{"jsonrpc", "2.0"},
                          {"id", sDoc},
                          {"method", "textDocument/documentSymbol"},
                          {"params", {{"textDocument", {{"uri", sDoc}}}}}});
        const std::vector<json> messages = session.Received();
        std::map<std::string, json> published = Published(messages);
        std::map<std::string, json> symbols;
        for (const json& message : messages)
        {
            if (message.contains("result"))
                symbols[message["id"]] = message["result"];
        }
        ASSERT_EQ(published.size(), 2u);
        std::string sDump = published[sFresh].dump();
        // The findings name no URI but in related information.
        for (size_t nAt; (nAt = sDump.find(sFresh)) != std::string::npos;)
            sDump.replace(nAt, sFresh.size(), sUri);
        EXPECT_EQ(published[sUri].dump(), sDump) << "version " << nVersion;
        EXPECT_EQ(symbols[sUri], symbols[sFresh]) << "version " << nVersion;
    }
}

namespace
{
void WriteCompressed(const std::string& sPath, const std::string& sText)
{
    CZQAFile file(sPath.c_str(), false, true, false);
    for (char c : sText)
        file.WriteByte(static_cast<uint8_t>(c));
    EXPECT_TRUE(file.Close());
}

const char kSprit[] =
    "(header (version 1))\n(effect-tree (effect (name E) (length 1000) (key-list (key (type "
    "Sprit) (id 1) (track 0) (start-time 0) (end-time 10)))))\n";

json Notice(const std::string& sMethod, const json& params)
{
    return {{"jsonrpc", "2.0"}, {"method", sMethod}, {"params", params}};
}

// The codes and start positions of the diagnostics published last for sUri.
std::vector<std::string> Codes(const std::vector<json>& messages, const std::string& sUri)
{
    std::vector<std::string> codes;
    std::map<std::string, json> published = Published(messages);
    for (const json& diag : published[sUri])
        codes.push_back(diag["code"].get<std::string>() + "@" +
                        std::to_string(diag["range"]["start"]["line"].get<int>()) + ":" +
                        std::to_string(diag["range"]["start"]["character"].get<int>()));
    return codes;
}
} // namespace

// A compressed source is checked as it is on disk, whatever text the editor sends; positions are in
// its decompressed text; the client's edits change nothing, a save reads the file again, and it is
// not formatted.
TEST(FxLs, CompressedSourcesAreCheckedAsOnDisk)
{
    WriteProject();
    const std::string sPath = TempPath("proj/z.Fx00c");
    WriteCompressed(sPath, kSprit);
    const std::string sUri = Uri("proj/z.Fx00c");
    CSession session("compressed");
    Initialize(session, true);
    Open(session, sUri, "\x7f garbled bytes");
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>({"unknown-type@1:65"}));

    session.Send(Notice("textDocument/didChange", {{"textDocument", {{"uri", sUri}, {"version", 2}}},
                                                   {"contentChanges", {{{"text", "(("}}}}}));
    EXPECT_TRUE(Published(session.Received()).empty());
    session.Send({{"jsonrpc", "2.0"},
                  {"id", 7},
                  {"method", "textDocument/formatting"},
                  {"params", {{"textDocument", {{"uri", sUri}}}, {"options", json::object()}}}});
    const std::vector<json> refused = session.Received();
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0]["error"]["code"], -32803);

    // Fixed on disk, with the type now on the first line.
    WriteCompressed(sPath,
                    std::string(kSprit).replace(std::string(kSprit).find("Sprit"), 5, "Sprite").erase(20, 1));
    session.Send(Notice("textDocument/didSave", {{"textDocument", {{"uri", sUri}}}}));
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>());
    WriteCompressed(sPath, std::string(kSprit).erase(20, 1));
    session.Send(Notice("textDocument/didSave", {{"textDocument", {{"uri", sUri}}}}));
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>({"unknown-type@0:85"}));

    // The same file named by a URI whose last character is percent-encoded, as a client may write it.
    const std::string sEncoded = sUri.substr(0, sUri.size() - 1) + "%63";
    Open(session, sEncoded, "");
    EXPECT_EQ(Codes(session.Received(), sEncoded), std::vector<std::string>({"unknown-type@0:85"}));

    // Gone from disk: said on the first line, not checked as an empty text.
    std::remove(sPath.c_str());
    session.Send(Notice("textDocument/didSave", {{"textDocument", {{"uri", sUri}}}}));
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>({"file-unreadable@0:0"}));
}

// The module follows the locator on disk: a locator edited to name another module changes the
// findings at the next check (here on the client's file-watch notice), and back again.
TEST(FxLs, ModuleFollowsTheLocator)
{
    const std::string sModule = "[Project Binaries]\nSparkrig=" + BinLibrary("sparkrig_sample") + "\n";
    const std::string sLocator = WriteTemp("moved/p.proj00", sModule);
    const std::string sUri = Uri("moved/m.Fx00a");
    CSession session("locator");
    json capabilities;
    capabilities["workspace"]["didChangeWatchedFiles"]["dynamicRegistration"] = true;
    session.Send({{"jsonrpc", "2.0"},
                  {"id", 0},
                  {"method", "initialize"},
                  {"params", {{"capabilities", capabilities}}}});
    session.Send(Notice("initialized", json::object()));
    const std::vector<json> started = session.Received();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1]["method"], "client/registerCapability");
    Open(session, sUri, kSprit);
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>({"unknown-type@1:65"}));

    json changed;
    changed["changes"] = {{{"uri", PathToUri(fs::path(sLocator).generic_string())}, {"type", 2}}};
    WriteTemp("moved/p.proj00", "[Project Binaries]\nSparkrig=" + TempPath("moved/none.dll") + "\n");
    session.Send(Notice("workspace/didChangeWatchedFiles", changed));
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>({"module-load-failed@0:0"}));
    WriteTemp("moved/p.proj00", sModule);
    session.Send(Notice("workspace/didChangeWatchedFiles", changed));
    EXPECT_EQ(Codes(session.Received(), sUri), std::vector<std::string>({"unknown-type@1:65"}));
}

// The packed syntax tree against a plain reading of seeded random texts: every node's range, its
// parent, first child, next sibling and flags, in document order.
TEST(FxLs, SyntaxTreeMatchesAPlainReading)
{
    const std::vector<std::string> pieces = {"(",  "(", ")",     " ",  "\n", "\t",
                                             "ab", "x", "\"q r", "\"", "é",  "\r\n"};
    std::mt19937 random(77);
    for (int nRound = 0; nRound < 300; ++nRound)
    {
        std::string sText;
        for (size_t n = random() % 40; n > 0; --n)
            sText += pieces[random() % pieces.size()];
        // The plain reading: one entry per node, with the indexes of the related nodes.
        std::vector<SyntaxNode> expected(1);
        expected[0].bList = true;
        expected[0].nEnd = sText.size();
        std::vector<uint32_t> open = {0}, last = {SyntaxNode::kNone};
        auto add = [&](SyntaxNode node)
        {
            const uint32_t nIndex = static_cast<uint32_t>(expected.size());
            node.nParent = open.back();
            if (last.back() == SyntaxNode::kNone)
                expected[open.back()].nFirstChild = nIndex;
            else
                expected[last.back()].nNextSibling = nIndex;
            last.back() = nIndex;
            expected.push_back(node);
            return nIndex;
        };
        for (size_t i = 0; i < sText.size();)
        {
            const char c = sText[i];
            SyntaxNode node;
            node.nBegin = i;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
                ++i;
            else if (c == '(')
            {
                node.bList = true;
                node.bClosed = false;
                node.nEnd = sText.size();
                open.push_back(add(node));
                last.push_back(SyntaxNode::kNone);
                ++i;
            }
            else if (c == ')')
            {
                if (open.size() > 1)
                {
                    expected[open.back()].nEnd = i + 1;
                    expected[open.back()].bClosed = true;
                    open.pop_back();
                    last.pop_back();
                }
                ++i;
            }
            else
            {
                const size_t nClose =
                    c == '"' ? sText.find('"', i + 1) : sText.find_first_of(" \t\n\r()\"", i);
                node.bQuoted = c == '"';
                node.bClosed = c != '"' || nClose != std::string::npos;
                node.nEnd = nClose == std::string::npos ? sText.size() : nClose + (c == '"' ? 1 : 0);
                add(node);
                i = static_cast<size_t>(node.nEnd);
            }
        }
        const CSyntaxTree tree(sText);
        ASSERT_EQ(tree.Size(), expected.size()) << sText;
        for (uint32_t n = 0; n < expected.size(); ++n)
        {
            const SyntaxNode actual = tree.Node(n);
            const SyntaxNode& want = expected[n];
            EXPECT_EQ(std::make_tuple(actual.nBegin, actual.nEnd, actual.nParent, actual.nFirstChild,
                                      actual.nNextSibling, actual.bList, actual.bQuoted, actual.bClosed),
                      std::make_tuple(want.nBegin, want.nEnd, want.nParent, want.nFirstChild,
                                      want.nNextSibling, want.bList, want.bQuoted, want.bClosed))
                << "node " << n << " of '" << sText << "'";
        }
    }
}
