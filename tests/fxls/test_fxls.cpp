// fxls: the scripted sessions of sessions/*.session, the findings compared with fxcheck's over the
// checker's cases and the demo, incremental edits against whole texts, positions after non-ASCII
// text, and the framing and exit status of a served session.
#include "Document.h"
#include "Log.h"
#include "Server.h"
#include "Transport.h"
#include "fxcheck_cases.h"
#include "test_support.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

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
        return actual.is_string() && actual.get<std::string>().find(expected.get<std::string>().substr(1)) != std::string::npos;
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
            ASSERT_TRUE(bFound) << sWhere << ": nothing matches\n" << expected.dump() << "\nreceived:\n" << sSeen;
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
    const std::string sBad = "Content-Length: 9\r\n\r\n{\"broken\"" +                 // not JSON
                             std::string("Content-Type: x\r\n\r\n") +                 // no length
                             "Content-Length: 12x\r\n\r\n" +                          // bad length
                             "content-length:   2\r\n\r\n{}" +                        // no method
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
        Request(1, "initialize", {{"capabilities", json::object()}}) + Notification("$/cancelRequest", {{"id", 4}}) +
        Request(4, "textDocument/documentSymbol", {{"textDocument", {{"uri", sUri}}}}) +
        Request(5, "textDocument/documentSymbol", {{"textDocument", {{"uri", sUri}}}}) + Request(6, "shutdown") +
        Notification("exit");
    const Served served = Serve("cancel", sInput);
    EXPECT_EQ(served.nExit, 0);
    ASSERT_EQ(served.messages.size(), 4u);
    EXPECT_EQ(served.messages[1], json::parse(R"({"jsonrpc":"2.0","id":4,"error":{"code":-32800,"message":"cancelled"}})"));
    EXPECT_EQ(served.messages[2], json::parse(R"({"jsonrpc":"2.0","id":5,"result":null})"));
}
