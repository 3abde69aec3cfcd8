// Drives the language server with random sessions: documents opened, edited (incrementally at random
// positions, or whole), asked about at random places, closed; and raw messages that may be any JSON.
// The server must answer without crashing, hanging or reading out of bounds. The documents lie in a
// project whose locator names the sample effect module (EMBERVISE_SAMPLE_MODULE, else beside the
// fuzz program).
#include "document.h"
#include "filecheck.h"
#include "fuzz_source_file.h"
#include "log.h"
#include "server.h"
#include "transport.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace
{
std::string s_sUri;
std::FILE* s_pOut = nullptr;

// Reads the input as a sequence of small fields.
class CReader
{
public:
    CReader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    bool More() const { return m_n > 0; }
    uint8_t Byte()
    {
        if (!m_n)
            return 0;
        --m_n;
        return *m_p++;
    }
    std::string Text()
    {
        size_t nLength = Byte();
        if (nLength == 255)
            nLength = static_cast<size_t>(Byte()) * 64;
        nLength = std::min(nLength, m_n);
        std::string s(reinterpret_cast<const char*>(m_p), nLength);
        m_p += nLength;
        m_n -= nLength;
        return s;
    }

private:
    const uint8_t* m_p;
    size_t m_n;
};

nlohmann::json Position(CReader& in)
{
    return {{"line", in.Byte() % 16}, {"character", in.Byte() % 64}};
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** pArgv)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("fuzz_fxls_" + std::to_string(PlatformGetProcessId()));
    std::filesystem::create_directories(folder / "proj");
    std::ofstream(folder / "proj" / "p.proj00")
        << "[Project Binaries]\nSparkrig=" << FuzzSampleModulePath((*pArgv)[0]) << "\n";
    s_sUri = PathToUri((folder / "proj" / "f.Fx00a").generic_string());
    // The module stays loaded for the whole run: a server that unloads it would unmap its coverage
    // counters under the fuzzer.
    static CModuleCache* s_pKeepLoaded = new CModuleCache();
    s_pKeepLoaded->Get(FuzzSampleModulePath((*pArgv)[0]));
#if defined(_WIN32)
    s_pOut = std::fopen("NUL", "wb");
#else
    s_pOut = std::fopen("/dev/null", "wb");
#endif
    return s_pOut ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CReader in(pData, nSize);
    CLog log;
    CTransport transport(nullptr, s_pOut);
    CServer server(transport, log, ServerOptions());
    nlohmann::json capabilities = nlohmann::json::object();
    if (in.Byte() & 1)
        capabilities["general"] = {{"positionEncodings", {"utf-8"}}};
    server.Receive({{"jsonrpc", "2.0"},
                    {"id", 0},
                    {"method", "initialize"},
                    {"params", {{"capabilities", capabilities}}}});
    const nlohmann::json document = {{"uri", s_sUri}};
    static const char* const kRequests[] = {"textDocument/hover",      "textDocument/completion",
                                            "textDocument/definition", "textDocument/documentSymbol",
                                            "textDocument/formatting", "textDocument/rangeFormatting",
                                            "textDocument/codeAction"};
    int nId = 1;
    int nVersion = 1;
    while (in.More() && !server.HasExited())
    {
        const uint8_t nOp = in.Byte() % 8;
        if (nOp == 0)
            server.Receive({{"jsonrpc", "2.0"},
                            {"method", "textDocument/didOpen"},
                            {"params",
                             {{"textDocument",
                               {{"uri", s_sUri},
                                {"languageId", "fx"},
                                {"version", nVersion++},
                                {"text", in.Text()}}}}}});
        else if (nOp == 1 || nOp == 2)
        {
            nlohmann::json change = {{"text", in.Text()}};
            if (nOp == 1)
                change["range"] = {{"start", Position(in)}, {"end", Position(in)}};
            server.Receive({{"jsonrpc", "2.0"},
                            {"method", "textDocument/didChange"},
                            {"params",
                             {{"textDocument", {{"uri", s_sUri}, {"version", nVersion++}}},
                              {"contentChanges", {change}}}}});
        }
        else if (nOp == 3)
        {
            const char* pszMethod = kRequests[in.Byte() % 7];
            nlohmann::json params = {{"textDocument", document},
                                     {"position", Position(in)},
                                     {"range", {{"start", Position(in)}, {"end", Position(in)}}}};
            if (std::string(pszMethod) == "textDocument/codeAction")
            {
                // A fix as the server publishes it, pointing anywhere.
                params["context"] = {
                    {"diagnostics",
                     {{{"data",
                        {{"fix", {{"title", "t"}, {"newText", in.Text()}, {"range", params["range"]}}}}}}}}};
            }
            server.Receive({{"jsonrpc", "2.0"}, {"id", nId++}, {"method", pszMethod}, {"params", params}});
        }
        else if (nOp == 4)
            server.Receive(nlohmann::json::parse(in.Text(), nullptr, false));
        else if (nOp == 5)
            server.CheckWaitingNow();
        else if (nOp == 6)
            server.Receive({{"jsonrpc", "2.0"},
                            {"method", "textDocument/didClose"},
                            {"params", {{"textDocument", document}}}});
        else
            server.Receive({{"jsonrpc", "2.0"}, {"id", nId++}, {"method", "shutdown"}});
    }
    server.CheckWaitingNow();
    return 0;
}
