// The language server: reads requests and notifications, keeps the open documents, answers, and
// publishes each document's findings once its text has rested for the debounce time.
#pragma once

#include "check.h"
#include "document.h"
#include "projects.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <string>

class CLog;
class CSyntaxTree;
class CTransport;
struct Inbox;

struct ServerOptions
{
    int nDebounceMs = 200;
    std::string sVersion;
};

class CServer
{
public:
    CServer(CTransport& transport, CLog& log, const ServerOptions& options);
    ~CServer();
    CServer(const CServer&) = delete;
    CServer& operator=(const CServer&) = delete;

    // Serves until "exit" or the end of the input; the process's exit status: 0 after "shutdown"
    // then "exit", 1 otherwise.
    int Run();

    // One message, handled at once, for a caller that drives the server itself instead of Run.
    void Receive(nlohmann::json message) { Handle(std::move(message)); }
    // Checks and publishes every document waiting for it, without waiting for the debounce time.
    void CheckWaitingNow();
    bool HasExited() const { return m_bExit; }
    int ExitStatus() const { return m_bExit && m_bShutdown ? 0 : 1; }

private:
    using Clock = std::chrono::steady_clock;
    struct OpenDocument
    {
        std::unique_ptr<CDocument> pDoc;
        std::unique_ptr<CSyntaxTree> pTree; // of the current version; built on demand
        bool bPending = false;              // findings not yet published for this version
        bool bCompressed = false;           // checked as on disk; pDoc holds the decompressed text
        Clock::time_point due;
    };

    void Handle(nlohmann::json message);
    void HandleRequest(const nlohmann::json& id, const std::string& sMethod, const nlohmann::json& params);
    void HandleNotification(const std::string& sMethod, nlohmann::json params);
    nlohmann::json Initialize(const nlohmann::json& params);
    nlohmann::json DocumentRequest(const std::string& sMethod, const nlohmann::json& params);
    void DidOpen(nlohmann::json& params);
    void DidChange(const nlohmann::json& params);
    void DidClose(const nlohmann::json& params);
    void Schedule(OpenDocument& open, bool bNow);
    void ScheduleAll();
    // Checks and publishes the documents whose time has come (all waiting ones with bNow); false
    // when none is left waiting, else the earliest time still to come in next.
    bool RunDue(Clock::time_point& next, bool bNow);
    // Whether a message that changes the document has arrived and waits: findings for the text
    // at hand would be stale.
    bool ChangeWaits(const std::string& sUri);
    // The findings for the document's current version.
    std::vector<Diagnostic> CheckOpen(OpenDocument& open);
    const CSyntaxTree& TreeOf(OpenDocument& open);

    // Asks a client that can watch files for us to report changes of locators and module libraries.
    void WatchProjectFiles();
    void Respond(const nlohmann::json& id, nlohmann::json result);
    void RespondError(const nlohmann::json& id, int nCode, const std::string& sMessage);
    void Notify(const std::string& sMethod, nlohmann::json params);

    CTransport& m_Transport;
    CLog& m_Log;
    ServerOptions m_Options;
    std::shared_ptr<Inbox> m_pInbox;
    std::map<std::string, OpenDocument> m_docs; // by URI
    CProjects m_Projects;
    PositionEncoding m_eEncoding = PositionEncoding::Utf16;
    bool m_bInitialized = false;
    bool m_bCanWatch = false; // the client registers file watchers on request
    bool m_bShutdown = false;
    bool m_bExit = false;
};
