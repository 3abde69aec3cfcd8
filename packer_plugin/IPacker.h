// The interfaces between a resource-packing host and a packer plug-in. A host includes this header
// and nothing else of the plug-in: every operation here is either pure virtual or defined inline, so
// hosts link no code of the plug-in. Operations are listed in their vtable order; new ones only ever
// go at the end.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

class IPackerOptionList;
class IPackerMessageSink;

// A packer: claims files through the plug-in's AssociatePacker and packs them.
class IPacker
{
public:
    virtual ~IPacker() {}                                                     // slot 0
    virtual bool GetName(char* pszBuffer, uint32_t nBufferSize) = 0;          // slot 1: display name
    virtual bool DeclareOptions(IPackerOptionList* pOptions) = 0;             // slot 2: option entries
    virtual bool CanPack(uint32_t nArg0, uint32_t nArg1, uint32_t nArg2) = 0; // slot 3
    // slot 4: packs one claimed file; true when the packed file was written.
    virtual bool PackFile(const char* pszFileName, uint32_t nArg, IPackerMessageSink* pSink) = 0;
};

// One option entry a packer declares. The host reads it while AddOption runs and copies what it
// keeps: the packer destroys the entry right after the call.
class CPackerOption
{
public:
    CPackerOption(const char* pszName, uint32_t nKind, const char* pszDescription)
    {
        if (pszName)
            SetName(pszName);
        if (pszDescription)
            SetDescription(pszDescription);
        m_nKind = nKind;
    }

    virtual ~CPackerOption() // slot 0
    {
        std::free(m_pszName);
        m_pszName = nullptr;
        std::free(m_pszDescription);
        m_pszDescription = nullptr;
    }

    virtual int32_t GetOptionType() = 0;                        // slot 1
    virtual bool LoadValue(uint32_t nArg0, uint32_t nArg1) = 0; // slot 2
    virtual bool SaveValue(uint32_t nArg0, uint32_t nArg1) = 0; // slot 3

    CPackerOption(const CPackerOption&) = delete;
    CPackerOption& operator=(const CPackerOption&) = delete;

    // Replaces the name with a copy of pszName; the name stays null when the copy cannot be made.
    bool SetName(const char* pszName)
    {
        ReplaceText(m_pszName, pszName);
        return true;
    }

    // Replaces the description with a copy of pszDescription; null leaves no description.
    bool SetDescription(const char* pszDescription)
    {
        ReplaceText(m_pszDescription, pszDescription);
        return true;
    }

    char* m_pszName = nullptr;
    char* m_pszDescription = nullptr;
    bool m_bEnabled = true;
    uint32_t m_nKind = 0;

private:
    static void ReplaceText(char*& pszField, const char* pszText)
    {
        std::free(pszField);
        pszField = nullptr;
        if (!pszText)
            return;
        const size_t nSize = std::strlen(pszText) + 1;
        pszField = static_cast<char*>(std::malloc(nSize));
        if (pszField)
            std::memcpy(pszField, pszText, nSize);
    }
};

// An entry that only shapes the host's display: it carries no value.
class CPackerDisplayOption : public CPackerOption
{
public:
    CPackerDisplayOption(const char* pszName, uint32_t nKind, const char* pszDescription)
        : CPackerOption(pszName, nKind, pszDescription)
    {
    }

    int32_t GetOptionType() override { return 4; }
    bool LoadValue(uint32_t, uint32_t) override { return true; }
    bool SaveValue(uint32_t, uint32_t) override { return true; }
};

// The host's list of option entries.
class IPackerOptionList
{
public:
    virtual ~IPackerOptionList() {} // slot 0
    // slot 1: the entry is valid only during the call; the result is the host's own.
    virtual bool AddOption(CPackerOption* pOption, const char* pszGroup) = 0;
};

// The host's message sink for one pack run. Texts are valid only during the call.
class IPackerMessageSink
{
public:
    virtual ~IPackerMessageSink() {}                               // slot 0
    virtual bool SetTask(const char* pszTask) = 0;                 // slot 1
    virtual bool SetSubTask(const char* pszSubTask) = 0;           // slot 2
    virtual bool SetProgress(uint32_t nDone, uint32_t nTotal) = 0; // slot 3
    virtual bool ClearMessages() = 0;                              // slot 4
    // slot 5: true when the file may now be created or overwritten.
    virtual bool MakeFileWritable(const char* pszPath) = 0;
    // slot 6: one message line; level 0 for errors, 2 for progress.
    virtual bool LogMessage(int32_t nLevel, const char* pszText) = 0;
};

// ---------------------------------------------------------------------------------------------------
// Host extension, optional and versioned. A host that offers it passes PackerHostExtensionArg() as
// PackFile's second argument, and its sink is then an IPackerHostSink of at least that version. A
// packer that knows the extension uses the slots beyond 6 only when PackerHostExtensionVersion of
// the argument says so; an older packer ignores the argument, and an older host passes 0, so either
// side without the extension works as before.
constexpr uint32_t PACKER_HOST_EXTENSION_TAG = 0x5A500000u; // "ZP" in the high half
constexpr uint32_t PACKER_HOST_EXTENSION_VERSION = 2;

inline uint32_t PackerHostExtensionArg(uint32_t nVersion = PACKER_HOST_EXTENSION_VERSION)
{
    return PACKER_HOST_EXTENSION_TAG | (nVersion & 0xFFFFu);
}

// The extension version that PackFile's second argument offers; 0 for none.
inline uint32_t PackerHostExtensionVersion(uint32_t nArg)
{
    return (nArg & 0xFFFF0000u) == PACKER_HOST_EXTENSION_TAG ? (nArg & 0xFFFFu) : 0;
}

// What a reported input file is to the pack.
enum PackerInputKind : uint32_t
{
    PACKER_INPUT_SOURCE = 0,  // the file being packed
    PACKER_INPUT_CONFIG = 1,  // a settings file the packer read (the project locator file)
    PACKER_INPUT_LIBRARY = 2, // a library whose code shaped the output (the effect module)
    PACKER_INPUT_OTHER = 3,
    PACKER_INPUT_ABSENT = 4, // a pattern ("DIR/*.proj00") that matched no file: one appearing would matter
};

// Version 1 of the host extension: the slots that follow IPackerMessageSink's.
class IPackerHostSink : public IPackerMessageSink
{
public:
    // slot 7: the host asks only where the file would be packed. The packer then reports each file
    // it would write with ReportOutput, reads and writes nothing, sends no message and returns true.
    virtual bool IsPlanOnly() = 0;
    // slot 8: a file the pack read, by its full path; called before PackFile returns.
    virtual bool ReportInput(uint32_t nKind, const char* pszPath) = 0;
    // slot 9: a file the pack writes (or, when planning, would write).
    virtual bool ReportOutput(const char* pszPath) = 0;
};

// Why a file that a pack needed was not used (version 2).
enum PackerUnusedReason : uint32_t
{
    PACKER_UNUSED_UNTRUSTED = 1,  // another user could have chosen what it holds (the trust rule)
    PACKER_UNUSED_UNLOADABLE = 2, // the library could not be loaded, or is no effect module
};

// Version 2 of the host extension: the slot that follows version 1's.
class IPackerHostSink2 : public IPackerHostSink
{
public:
    // slot 10: a file the pack needed and did not use, reported after the error line of the failure
    // it caused. nWhy is a PackerUnusedReason, nKind a PackerInputKind; pszPath is the file as the
    // pack named it, pszNamedBy the file that named it and pszResolved the file looked at (null
    // when there is none or it is pszPath); pszReason is one line, the system's own where it gave one.
    virtual bool ReportUnusedInput(uint32_t nWhy, uint32_t nKind, const char* pszPath, const char* pszNamedBy,
                                   const char* pszResolved, const char* pszReason) = 0;
};

// The environment variable naming folders whose files a packer uses even where another user could
// have chosen them (its trust rule), separated as PATH is; "*" names every folder. A host's --trust
// adds to it for the packers it loads.
#define PACKER_TRUSTED_DIRS_VARIABLE "EMBERVISE_TRUSTED_DIRS"

// Message levels the packer uses.
enum PackerMessageLevel : int32_t
{
    PACKER_MSG_ERROR = 0,
    PACKER_MSG_PROGRESS = 2,
};

// The plug-in's one export, found by this name: the packer for a file, or null.
#define PACKER_ASSOCIATE_EXPORT "AssociatePacker"
extern "C" typedef IPacker* (*PFN_AssociatePacker)(const char* pszFileName);
