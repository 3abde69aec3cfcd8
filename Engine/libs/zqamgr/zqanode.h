// Text tree nodes and the allocator interface that owns their memory. A node is a list (an array
// of child pointers) or an atom (one zero-terminated value); nodes never allocate on their own:
// every operation that allocates or frees takes the allocator that owns the tree.
#pragma once

#include <cstdint>
#include <cstring>

class CZQANode;

// Owner of every node, element array and value string of a tree.
class CZQAAllocator
{
public:
    virtual ~CZQAAllocator() = default;
    // A node in the constructed state (empty list), or null when memory is exhausted.
    virtual CZQANode* AllocateNode() = 0;
    // Gives back a node from AllocateNode; an allocator that frees individually frees the node's
    // own data first (the node's Free with this allocator). Null is allowed.
    virtual void FreeNode(CZQANode* pNode) = 0;
    // nSize bytes, or null when memory is exhausted.
    virtual void* AllocateBlock(uint32_t nSize) = 0;
    // Gives back a block from AllocateBlock; null is allowed.
    virtual void FreeBlock(void* pBlock) = 0;
};

// A node is its flag word and its pointer with nothing between them (12 bytes where pointers take
// 8), so it needs only the flag word's alignment; element arrays placed after such nodes may then
// be unaligned for pointers and are read and written through memcpy.
#pragma pack(push, 4)
class CZQANode
{
public:
    static constexpr uint32_t ATOM_FLAG = 0x80000000u;
    static constexpr uint32_t QUOTED_FLAG = 0x40000000u;

    CZQANode() = default;
    // Frees nothing: a node holding data must be given back with Free first.
    ~CZQANode();
    CZQANode(const CZQANode&) = delete;
    CZQANode& operator=(const CZQANode&) = delete;

    bool IsList() const { return (m_nFlags & ATOM_FLAG) == 0; }
    bool IsAtom() const { return (m_nFlags & ATOM_FLAG) != 0; }
    // An atom written in quotes.
    bool IsQuoted() const { return (m_nFlags & (ATOM_FLAG | QUOTED_FLAG)) == (ATOM_FLAG | QUOTED_FLAG); }

    // An atom has no elements (after a failed "IsList()" check the answer is 0).
    uint32_t GetNumElements() const { return IsList() ? m_nFlags : ReportNotList(); }

    // Null after a failed check (not a list, or index out of range).
    CZQANode* GetElement(uint32_t nIndex) const
    {
        if (IsList() && nIndex < m_nFlags)
            return LoadElement(m_pData, nIndex);
        return ReportBadElement(nIndex);
    }

    // The empty text after a failed "IsAtom()" check.
    const char* GetValue() const { return IsAtom() ? static_cast<const char*>(m_pData) : ReportNotAtom(); }

    void SetElement(CZQANode* pNode, uint32_t nIndex)
    {
        if (IsList() && nIndex < m_nFlags)
            std::memcpy(static_cast<uint8_t*>(m_pData) + size_t(nIndex) * sizeof(CZQANode*), &pNode,
                        sizeof(pNode));
        else
            ReportBadSetElement(nIndex);
    }

    // Makes the node a list of nCount unfilled slots; the caller fills every slot.
    bool AllocateElements(uint32_t nCount, CZQAAllocator* pAllocator);
    // Appends one node, copying the whole array (meant for a handful of elements).
    bool AppendElement(CZQANode* pNode, CZQAAllocator* pAllocator);
    // Appends nCount nodes in order with one new array; false leaves the node unchanged.
    bool AppendElements(CZQANode* const* ppNodes, uint32_t nCount, CZQAAllocator* pAllocator);
    // Makes the node an atom holding a copy of pszValue.
    bool SetValue(const char* pszValue, bool bQuoted, CZQAAllocator* pAllocator);
    // Gives the node's data (direct children, array or value) back; the node is an empty list again.
    void Free(CZQAAllocator* pAllocator)
    {
        if (m_nFlags == 0 && pAllocator)
        {
            pAllocator->FreeBlock(m_pData); // an empty list: no children, maybe an array
            m_pData = nullptr;
        }
        else
        {
            FreeData(pAllocator);
        }
    }

    uint32_t GetFlags() const { return m_nFlags; }

    // Element nIndex of an element array, which need not be aligned for pointers.
    static CZQANode* LoadElement(const void* pArray, uint32_t nIndex)
    {
        CZQANode* pNode;
        std::memcpy(&pNode, static_cast<const uint8_t*>(pArray) + size_t(nIndex) * sizeof(CZQANode*),
                    sizeof(pNode));
        return pNode;
    }

private:
    friend class CZQANodeBuilder; // fills fresh nodes directly when loading with CZQALoadOnlyAlloc

    void FreeData(CZQAAllocator* pAllocator);
    uint32_t ReportNotList() const;
    CZQANode* ReportBadElement(uint32_t nIndex) const;
    const char* ReportNotAtom() const;
    void ReportBadSetElement(uint32_t nIndex) const;
    // One new array for the old elements and nAdd more; the old array goes back to the allocator.
    bool Grow(CZQANode* const* ppNodes, uint32_t nAdd, CZQAAllocator* pAllocator);

    uint32_t m_nFlags = 0;   // atom: ATOM_FLAG [| QUOTED_FLAG]; list: element count
    void* m_pData = nullptr; // atom: the value; list: the element array
};
#pragma pack(pop)
