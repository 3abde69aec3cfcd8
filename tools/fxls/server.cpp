#include "server.h"

#include "EffectModule.h"
#include "log.h"
#include "requests.h"
#include "syntax.h"
#include "transport.h"
#include "zqautil.h"
#include "zqprocess.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace
{
// JSON-RPC and protocol error codes.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerNotInitialized = -32002;
constexpr int kRequestCancelled = -32800;

constexpr int kRequestFailed = -32803;

// A message that cannot be answered as asked.
struct BadParams
{
    std::string sWhy;
};

// A sound request that the server declines, with the reason for the user.
struct RequestFailed
{
    std::string sWhy;
};

const nlohmann::json& Member(const nlohmann::json& object, const char* pszName)
{
    if (!object.is_object() || !object.contains(pszName))
        throw BadParams{std::string("missing '") + pszName + "'"};
    return object[pszName];
}

std::string StringMember(const nlohmann::json& object, const char* pszName)
{
    const nlohmann::json& value = Member(object, pszName);
    if (!value.is_string())
        throw BadParams{std::string("'") + pszName + "' is not a string"};
    return value.get<std::string>();
}

int64_t VersionMember(const nlohmann::json& object)
{
    if (!object.is_object() || !object.contains("version") || object["version"].is_null())
        return 0;
    const nlohmann::json& value = object["version"];
    if (!value.is_number_integer())
        throw BadParams{"'version' is not an integer"};
    return value.get<int64_t>();
}
} // namespace

// Messages read by the reader thread, waiting for the server; shared with that thread, which may
// outlive the server when the input never ends.
struct Inbox
{
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<nlohmann::json> messages; // a discarded value stands for a message that did not parse
    std::set<std::string> cancelled;     // ids of requests cancelled, as JSON text
    bool bEnd = false;
};

CServer::CServer(CTransport& transport, CLog& log, const ServerOptions& options)
    : m_Transport(transport), m_Log(log), m_Options(options), m_pInbox(std::make_shared<Inbox>())
{
}

CServer::~CServer() = default;

int CServer::Run()
{
    std::shared_ptr<Inbox> pInbox = m_pInbox;
    CTransport* pTransport = &m_Transport;
    std::thread reader(
        [pInbox, pTransport]()
        {
            std::string sBody;
            for (;;)
            {
                const CTransport::ReadResult eResult = pTransport->Read(sBody);
                nlohmann::json message;
                if (eResult == CTransport::ReadResult::End)
                    break;
                if (eResult == CTransport::ReadResult::Message)
                    message = nlohmann::json::parse(sBody, nullptr, false);
                else
                    message = nlohmann::json(nlohmann::json::value_t::discarded);
                // The text of a large document is not held twice while the server works on it, and
                // what reading it left free goes back: this thread allocates from a heap of its
                // own, which the checks would not reuse.
                if (sBody.capacity() > 65536)
                {
                    std::string().swap(sBody);
                    PlatformReleaseFreeMemory();
                }
                else
                    sBody.clear();
                std::lock_guard<std::mutex> lock(pInbox->mutex);
                // A cancellation counts at once, even for a request still waiting in the queue.
                if (message.is_object() && message.value("method", nlohmann::json()) == "$/cancelRequest" &&
                    message.contains("params") && message["params"].is_object() &&
                    message["params"].contains("id"))
                {
                    pInbox->cancelled.insert(message["params"]["id"].dump());
                    continue;
                }
                pInbox->messages.push_back(std::move(message));
                pInbox->ready.notify_one();
            }
            std::lock_guard<std::mutex> lock(pInbox->mutex);
            pInbox->bEnd = true;
            pInbox->ready.notify_one();
        });

    while (!m_bExit)
    {
        Clock::time_point next;
        const bool bWaiting = RunDue(next, false);
        nlohmann::json message;
        {
            std::unique_lock<std::mutex> lock(m_pInbox->mutex);
            auto arrived = [this]() { return !m_pInbox->messages.empty() || m_pInbox->bEnd; };
            if (bWaiting)
                m_pInbox->ready.wait_until(lock, next, arrived);
            else
                m_pInbox->ready.wait(lock, arrived);
            if (m_pInbox->messages.empty())
            {
                if (m_pInbox->bEnd)
                    break;
                continue; // a check is due
            }
            message = std::move(m_pInbox->messages.front());
            m_pInbox->messages.pop_front();
        }
        Handle(std::move(message));
    }
    m_Log.Line(m_bExit ? "exit" : "end of input");
    {
        // The reader blocks on the input, which may stay open after "exit": it is waited for only
        // when the input has ended or ends at once.
        std::unique_lock<std::mutex> lock(m_pInbox->mutex);
        m_pInbox->ready.wait_for(lock, std::chrono::milliseconds(200), [this]() { return m_pInbox->bEnd; });
        if (m_pInbox->bEnd)
        {
            lock.unlock();
            reader.join();
        }
        else
            reader.detach();
    }
    return ExitStatus();
}

bool CServer::ChangeWaits(const std::string& sUri)
{
    std::lock_guard<std::mutex> lock(m_pInbox->mutex);
    for (const nlohmann::json& message : m_pInbox->messages)
    {
        if (!message.is_object() || !message.contains("params") || !message["params"].is_object())
            continue;
        const nlohmann::json& params = message["params"];
        const nlohmann::json method = message.value("method", nlohmann::json());
        if ((method == "textDocument/didChange" || method == "textDocument/didClose" ||
             method == "textDocument/didOpen") &&
            params.contains("textDocument") && params["textDocument"].is_object() &&
            params["textDocument"].value("uri", nlohmann::json()) == sUri)
            return true;
    }
    return false;
}

void CServer::CheckWaitingNow()
{
    Clock::time_point next;
    RunDue(next, true);
}

void CServer::Handle(nlohmann::json message)
{
    if (message.is_discarded())
    {
        RespondError(nullptr, kParseError, "the message is not JSON");
        return;
    }
    if (!message.is_object())
    {
        RespondError(nullptr, kInvalidRequest, "the message is not a JSON object");
        return;
    }
    const auto method = message.find("method");
    const auto id = message.find("id");
    const bool bHasId = id != message.end() && (id->is_string() || id->is_number_integer());
    if (method == message.end())
    {
        if (id == message.end() || (!message.contains("result") && !message.contains("error")))
            RespondError(bHasId ? *id : nlohmann::json(), kInvalidRequest, "the message has no method");
        return; // a response to a request of ours: none is sent
    }
    if (!method->is_string() || (id != message.end() && !bHasId))
    {
        RespondError(bHasId ? *id : nlohmann::json(), kInvalidRequest, "malformed method or id");
        return;
    }
    const std::string sMethod = method->get<std::string>();
    nlohmann::json params = message.contains("params") ? std::move(message["params"]) : nlohmann::json();
    m_Log.Line("<- " + sMethod + (bHasId ? " " + id->dump() : std::string()));
    if (bHasId)
    {
        {
            std::lock_guard<std::mutex> lock(m_pInbox->mutex);
            if (m_pInbox->cancelled.erase(id->dump()))
            {
                RespondError(*id, kRequestCancelled, "cancelled");
                return;
            }
        }
        HandleRequest(*id, sMethod, params);
    }
    else
        HandleNotification(sMethod, std::move(params));
}

void CServer::HandleRequest(const nlohmann::json& id, const std::string& sMethod,
                            const nlohmann::json& params)
{
    try
    {
        if (sMethod == "initialize")
        {
            if (m_bInitialized)
                RespondError(id, kInvalidRequest, "already initialized");
            else
                Respond(id, Initialize(params));
            return;
        }
        if (!m_bInitialized)
        {
            RespondError(id, kServerNotInitialized, "the server is not initialized");
            return;
        }
        if (m_bShutdown)
        {
            RespondError(id, kInvalidRequest, "the server is shutting down");
            return;
        }
        if (sMethod == "shutdown")
        {
            m_bShutdown = true;
            Respond(id, nullptr);
            return;
        }
        if (sMethod.compare(0, 13, "textDocument/") == 0)
        {
            static const std::set<std::string> kDocumentRequests = {
                "textDocument/hover",          "textDocument/completion", "textDocument/codeAction",
                "textDocument/documentSymbol", "textDocument/definition", "textDocument/formatting",
                "textDocument/rangeFormatting"};
            if (kDocumentRequests.count(sMethod))
            {
                Respond(id, DocumentRequest(sMethod, params));
                return;
            }
        }
        RespondError(id, kMethodNotFound, "unknown method '" + sMethod + "'");
    }
    catch (const BadParams& bad)
    {
        RespondError(id, kInvalidParams, "invalid params: " + bad.sWhy);
    }
    catch (const RequestFailed& failed)
    {
        RespondError(id, kRequestFailed, failed.sWhy);
    }
    catch (const nlohmann::json::exception& e)
    {
        RespondError(id, kInvalidParams, std::string("invalid params: ") + e.what());
    }
    catch (const std::exception& e)
    {
        RespondError(id, kInternalError, e.what());
    }
}

void CServer::HandleNotification(const std::string& sMethod, nlohmann::json params)
{
    try
    {
        if (sMethod == "exit")
            m_bExit = true;
        else if (!m_bInitialized || m_bShutdown)
            return; // notifications before "initialize" or after "shutdown" are dropped
        else if (sMethod == "textDocument/didOpen")
            DidOpen(params);
        else if (sMethod == "textDocument/didChange")
            DidChange(params);
        else if (sMethod == "textDocument/didClose")
            DidClose(params);
        else if (sMethod == "initialized")
            WatchProjectFiles();
        else if (sMethod == "textDocument/didSave" || sMethod == "workspace/didChangeWatchedFiles")
            ScheduleAll(); // a locator or module may have changed with it
    }
    catch (const BadParams& bad)
    {
        m_Log.Line("dropped " + sMethod + ": " + bad.sWhy);
    }
    catch (const std::exception& e)
    {
        m_Log.Line("dropped " + sMethod + ": " + e.what());
    }
}

nlohmann::json CServer::Initialize(const nlohmann::json& params)
{
    if (!params.is_object())
        throw BadParams{"'params' is not an object"};
    m_eEncoding = PositionEncoding::Utf16;
    const nlohmann::json general =
        params.value("capabilities", nlohmann::json::object()).value("general", nlohmann::json::object());
    if (general.is_object() && general.contains("positionEncodings") &&
        general["positionEncodings"].is_array())
    {
        for (const nlohmann::json& encoding : general["positionEncodings"])
        {
            if (encoding == "utf-8")
                m_eEncoding = PositionEncoding::Utf8;
        }
    }
    const nlohmann::json watched = params.value("capabilities", nlohmann::json::object())
                                       .value("workspace", nlohmann::json::object())
                                       .value("didChangeWatchedFiles", nlohmann::json::object());
    m_bCanWatch = watched.is_object() && watched.value("dynamicRegistration", false) == true;
    m_bInitialized = true;
    nlohmann::json capabilities = {
        {"positionEncoding", m_eEncoding == PositionEncoding::Utf8 ? "utf-8" : "utf-16"},
        {"textDocumentSync", {{"openClose", true}, {"change", 2}, {"save", true}}},
        {"hoverProvider", true},
        {"completionProvider", {{"triggerCharacters", {"(", " "}}}},
        {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}},
        {"definitionProvider", true},
        {"documentSymbolProvider", true},
        {"documentFormattingProvider", true},
        {"documentRangeFormattingProvider", true},
    };
    return {{"capabilities", capabilities},
            {"serverInfo", {{"name", "fxls"}, {"version", m_Options.sVersion}}}};
}

void CServer::DidOpen(nlohmann::json& params)
{
    Member(params, "textDocument");
    nlohmann::json& item = params["textDocument"];
    const std::string sUri = StringMember(item, "uri");
    StringMember(item, "text");
    std::string sText = std::move(item["text"].get_ref<std::string&>());
    const std::string sPath = UriToPath(sUri);
    OpenDocument& open = m_docs[sUri];
    // A compressed source is checked as it is on disk: what an editor shows of it is not its text.
    open.bCompressed = !sPath.empty() && CZQAUtil::IsFileCompressed(sPath.c_str());
    if (open.bCompressed)
        sText.clear();
    open.pDoc.reset(new CDocument(sUri, sPath, VersionMember(item), std::move(sText)));
    open.pTree.reset();
    Schedule(open, true);
}

void CServer::DidChange(const nlohmann::json& params)
{
    const nlohmann::json& item = Member(params, "textDocument");
    const auto it = m_docs.find(StringMember(item, "uri"));
    if (it == m_docs.end())
        return;
    const int64_t nVersion = VersionMember(item);
    const nlohmann::json& changes = Member(params, "contentChanges");
    if (!changes.is_array())
        throw BadParams{"'contentChanges' is not an array"};
    OpenDocument& open = it->second;
    if (open.bCompressed)
        return; // its text comes from the file, checked again when saved
    open.pTree.reset();
    CDocument& doc = *open.pDoc;
    for (const nlohmann::json& change : changes)
    {
        std::string sText = StringMember(change, "text");
        if (!change.contains("range"))
        {
            doc.Replace(nVersion, std::move(sText));
            continue;
        }
        const nlohmann::json& range = change["range"];
        size_t nStart = 0, nEnd = 0;
        if (!range.is_object() || !range.contains("start") || !range.contains("end"))
            throw BadParams{"malformed 'range'"};
        auto offset = [&](const nlohmann::json& position, size_t& nOffset)
        {
            TextPosition pos;
            if (!ReadTextPosition(position, pos))
                throw BadParams{"malformed position"};
            nOffset = doc.Offset(pos, m_eEncoding);
        };
        offset(range["start"], nStart);
        offset(range["end"], nEnd);
        if (nStart > nEnd)
            std::swap(nStart, nEnd);
        doc.Edit(nVersion, nStart, nEnd, sText);
    }
    Schedule(open, false);
}

void CServer::DidClose(const nlohmann::json& params)
{
    const nlohmann::json& item = Member(params, "textDocument");
    const std::string sUri = StringMember(item, "uri");
    if (m_docs.erase(sUri))
        Notify("textDocument/publishDiagnostics", {{"uri", sUri}, {"diagnostics", nlohmann::json::array()}});
}

void CServer::Schedule(OpenDocument& open, bool bNow)
{
    open.bPending = true;
    open.due = Clock::now() + std::chrono::milliseconds(bNow ? 0 : m_Options.nDebounceMs);
}

void CServer::ScheduleAll()
{
    for (auto& entry : m_docs)
        Schedule(entry.second, false);
}

bool CServer::RunDue(Clock::time_point& next, bool bNow)
{
    bool bWaiting = false;
    for (auto& entry : m_docs)
    {
        OpenDocument& open = entry.second;
        if (!open.bPending)
            continue;
        if (!bNow && open.due > Clock::now())
        {
            if (!bWaiting || open.due < next)
                next = open.due;
            bWaiting = true;
            continue;
        }
        const std::string& sUri = entry.first;
        const int64_t nVersion = open.pDoc->Version();
        m_Log.Line("checking " + sUri + " version " + std::to_string(nVersion));
        const Clock::time_point start = Clock::now();
        const std::vector<Diagnostic> diags = CheckOpen(open);
        // What the check took is given back before the editor's tree is built to publish: the
        // two do not add up.
        PlatformReleaseFreeMemory();
        const Clock::time_point checked = Clock::now();
        open.bPending = false;
        if (ChangeWaits(sUri))
        {
            // A newer text has arrived meanwhile: these findings are not published.
            m_Log.Line("dropped stale findings for " + sUri + " version " + std::to_string(nVersion));
            continue;
        }
        const ProjectModule project =
            open.pDoc->Path().empty() ? ProjectModule() : m_Projects.Find(open.pDoc->Path());
        const DocumentView view{*open.pDoc, TreeOf(open), project.pModule, m_eEncoding};
        Notify("textDocument/publishDiagnostics",
               {{"uri", sUri}, {"version", nVersion}, {"diagnostics", PublishedDiagnostics(view, diags)}});
        auto ms = [](Clock::duration d)
        { return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); };
        m_Log.Line("checked in " + ms(checked - start) + " ms, published after " + ms(Clock::now() - start) +
                   " ms");
    }
    return bWaiting;
}

std::vector<Diagnostic> CServer::CheckOpen(OpenDocument& open)
{
    CDocument& doc = *open.pDoc;
    if (!open.bCompressed)
        return CheckDocument(doc.Path(), doc.Text(), m_Projects);
    std::string sBytes, sWhy;
    std::vector<Diagnostic> diags;
    std::string sText;
    if (ReadFileBytes(doc.Path(), sBytes, sWhy))
        diags = CheckDocument(doc.Path(), sBytes, m_Projects, &sText);
    else
    {
        Diagnostic diag;
        diag.sFile = doc.Path();
        diag.eCode = DiagCode::FileUnreadable;
        diag.nLine = 1;
        diag.sMessage = "the compressed source is checked as it is on disk, and it cannot be read: " + sWhy;
        diags.push_back(std::move(diag));
    }
    sBytes = std::string();
    if (sText != doc.Text())
    {
        doc.Replace(doc.Version(), std::move(sText));
        open.pTree.reset();
    }
    return diags;
}

const CSyntaxTree& CServer::TreeOf(OpenDocument& open)
{
    if (!open.pTree)
        open.pTree.reset(new CSyntaxTree(open.pDoc->Text()));
    return *open.pTree;
}

nlohmann::json CServer::DocumentRequest(const std::string& sMethod, const nlohmann::json& params)
{
    const nlohmann::json& item = Member(params, "textDocument");
    const auto it = m_docs.find(StringMember(item, "uri"));
    if (it == m_docs.end())
        return nullptr; // not open: nothing is known about it
    OpenDocument& open = it->second;
    const std::string& sPath = open.pDoc->Path();
    const ProjectModule project = sPath.empty() ? ProjectModule() : m_Projects.Find(sPath);
    const DocumentView view{*open.pDoc, TreeOf(open), project.pModule, m_eEncoding};
    if (sMethod == "textDocument/documentSymbol")
        return DocumentSymbols(view);
    if (sMethod == "textDocument/codeAction")
        return CodeActions(view, params);
    if (sMethod == "textDocument/formatting" || sMethod == "textDocument/rangeFormatting")
    {
        std::string sWhy;
        if (open.bCompressed)
            throw RequestFailed{
                "not formatted: the source is LZSS-compressed on disk and the editor does not "
                "hold its text; format the file with 'fxfmt -i'"};
        if (FormattingRefused(view, sWhy))
            throw RequestFailed{sWhy};
        if (sMethod == "textDocument/formatting")
            return Formatting(view);
        const nlohmann::json& range = Member(params, "range");
        size_t nBegin = 0, nEnd = 0;
        if (!ReadPosition(view, Member(range, "start"), nBegin) ||
            !ReadPosition(view, Member(range, "end"), nEnd))
            throw BadParams{"malformed 'range'"};
        return RangeFormatting(view, std::min(nBegin, nEnd), std::max(nBegin, nEnd));
    }
    size_t nOffset = 0;
    if (!ReadPosition(view, Member(params, "position"), nOffset))
        throw BadParams{"malformed 'position'"};
    if (sMethod == "textDocument/hover")
        return Hover(view, nOffset);
    if (sMethod == "textDocument/completion")
        return Completion(view, nOffset);
    return Definition(view, nOffset);
}

void CServer::WatchProjectFiles()
{
    if (!m_bCanWatch)
        return;
    // Locators and module libraries: a change to one is a reason to check the documents again.
    const nlohmann::json watchers = {{{"globPattern", "**/*.proj00"}},
                                     {{"globPattern", "**/*.{dll,so,dylib}"}}};
    const nlohmann::json message = {{"jsonrpc", "2.0"},
                                    {"id", "fxls-watch"},
                                    {"method", "client/registerCapability"},
                                    {"params",
                                     {{"registrations",
                                       {{{"id", "fxls-watch"},
                                         {"method", "workspace/didChangeWatchedFiles"},
                                         {"registerOptions", {{"watchers", watchers}}}}}}}}};
    m_Transport.Write(message.dump());
}

void CServer::Respond(const nlohmann::json& id, nlohmann::json result)
{
    const nlohmann::json message = {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
    m_Transport.Write(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void CServer::RespondError(const nlohmann::json& id, int nCode, const std::string& sMessage)
{
    m_Log.Line("error " + std::to_string(nCode) + ": " + sMessage);
    const nlohmann::json message = {
        {"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", nCode}, {"message", sMessage}}}};
    m_Transport.Write(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void CServer::Notify(const std::string& sMethod, nlohmann::json params)
{
    const nlohmann::json message = {{"jsonrpc", "2.0"}, {"method", sMethod}, {"params", std::move(params)}};
    m_Transport.Write(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}
