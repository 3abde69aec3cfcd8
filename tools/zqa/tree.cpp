// tree: the loaded tree, one node per line, children indented under their list. A list shows as
// "(", a quoted atom in quotes, bytes that would upset a terminal as \xNN.
#include "zqa.h"

#include "printable.h"
#include "zqafile.h"
#include "zqaloadonlyalloc.h"
#include "zqanode.h"
#include "zqanodreader.h"

#include <cstdio>
#include <cstring>

namespace zqa
{
namespace
{
class CTreePrinter
{
public:
    ~CTreePrinter() { Flush(); }

    void PrintChildren(CZQANode& list, unsigned nDepth)
    {
        for (uint32_t i = 0; i < list.GetNumElements(); ++i)
            PrintNode(*list.GetElement(i), nDepth);
    }

private:
    void PrintNode(CZQANode& node, unsigned nDepth)
    {
        m_sOut.append(2 * nDepth, ' ');
        if (node.IsList())
        {
            m_sOut += "(\n";
            PrintChildren(node, nDepth + 1);
            return;
        }
        const bool bQuoted = (node.GetFlags() & CZQANode::QUOTED_FLAG) != 0;
        if (bQuoted)
            m_sOut += '"';
        const char* pszValue = node.GetValue();
        AppendPrintable(m_sOut, pszValue, std::strlen(pszValue), true);
        if (bQuoted)
            m_sOut += '"';
        m_sOut += '\n';
        if (m_sOut.size() > 1 << 16)
            Flush();
    }

    void Flush()
    {
        std::fwrite(m_sOut.data(), 1, m_sOut.size(), stdout);
        m_sOut.clear();
    }

    std::string m_sOut;
};
} // namespace

int RunTree(const std::string& sPath, InputMode eMode)
{
    if (!CheckReadable(sPath))
        return 1;
    const bool bCompressed = ResolveCompressed(sPath, eMode);
    if (bCompressed && !CZQAFile(sPath.c_str(), true, true, false).IsOpen())
    {
        PrintError(sPath +
                   ": not a compressed ZQA file (its first four bytes are not zero); use --plain to read "
                   "it as plain text");
        return 1;
    }
    ContentScan scan;
    ScanContent(sPath, bCompressed, scan);
    if (scan.bHasNul)
    {
        PrintError(sPath + ": " + NotTextMessage(scan.nNulOffset));
        return 1;
    }
    if (scan.bCutShort)
        PrintError(sPath + ": warning: " + CutShortMessage(scan.nBytes) + "; the tree ends there");
    CZQALoadOnlyAlloc allocator(0x40000);
    CZQANode root;
    if (!CZQANodeReader::LoadEntireFile(sPath.c_str(), bCompressed, &root, &allocator))
    {
        PrintError(sPath + ": cannot be loaded (lists nested deeper than 1023, or out of memory)");
        return 1;
    }
    {
        CTreePrinter printer;
        printer.PrintChildren(root, 0);
    }
    root.Free(&allocator);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
} // namespace zqa
