// The effect document: what one effect file holds once loaded. A flat, ordered collection of
// effects and prefabs; an effect holds numbered tracks, a track holds keys ordered by start time.
#pragma once

#include "EffectPropertyDefaults.h"
#include "EffectPropertySet.h"
#include "pyrixmodule.h"

#include <cstdint>
#include <map>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

// Doubly linked list of pointers. It owns its nodes, never the pointers. GetAt remembers the last
// node it reached, so walking the list by index costs a step per element.
template <class T>
class CEffectList
{
public:
    struct Node
    {
        Node* pPrev;
        Node* pNext;
        T* pData;
    };

    CEffectList() = default;
    ~CEffectList() { RemoveAll(); }
    CEffectList(const CEffectList&) = delete;
    CEffectList& operator=(const CEffectList&) = delete;

    // False when no node can be had; the list is then unchanged.
    bool AddTail(T* p) { return InsertBefore(nullptr, p) != nullptr; }
    // The pointer nIndex steps from the head; null past the end.
    T* GetAt(uint32_t nIndex) const
    {
        const Node* pNode = GetNodeAt(nIndex);
        return pNode ? pNode->pData : nullptr;
    }
    uint32_t GetCount() const { return m_nCount; }
    // Frees the nodes, not what they point to.
    void RemoveAll()
    {
        for (Node* pNode = m_pHead; pNode;)
        {
            Node* pNext = pNode->pNext;
            delete pNode;
            pNode = pNext;
        }
        m_pHead = m_pTail = nullptr;
        m_nCount = 0;
        m_pCursor = nullptr;
    }

    Node* GetHeadNode() const { return m_pHead; }
    Node* GetTailNode() const { return m_pTail; }

    Node* GetNodeAt(uint32_t nIndex) const
    {
        if (nIndex >= m_nCount)
            return nullptr;
        // Start from the head, the tail or the remembered node, whichever is nearest.
        Node* pNode = m_pHead;
        uint32_t nAt = 0;
        uint32_t nDistance = nIndex;
        if (m_nCount - 1 - nIndex < nDistance)
        {
            pNode = m_pTail;
            nAt = m_nCount - 1;
            nDistance = m_nCount - 1 - nIndex;
        }
        if (m_pCursor)
        {
            const uint32_t nFromCursor = nIndex > m_nCursor ? nIndex - m_nCursor : m_nCursor - nIndex;
            if (nFromCursor < nDistance)
            {
                pNode = m_pCursor;
                nAt = m_nCursor;
            }
        }
        for (; nAt < nIndex; ++nAt)
            pNode = pNode->pNext;
        for (; nAt > nIndex; --nAt)
            pNode = pNode->pPrev;
        m_pCursor = pNode;
        m_nCursor = nIndex;
        return pNode;
    }

    // Links a new node holding p before pNext (at the tail when pNext is null). Null when no node
    // can be had.
    Node* InsertBefore(Node* pNext, T* p)
    {
        if (m_nCount == UINT32_MAX)
            return nullptr;
        Node* pNode = new (std::nothrow) Node{nullptr, nullptr, p};
        if (!pNode)
            return nullptr;
        Link(pNode, pNext);
        return pNode;
    }

    // Moves a node of this list before pNext (to the tail when pNext is null).
    void MoveBefore(Node* pNode, Node* pNext)
    {
        if (pNode == pNext || pNode->pNext == pNext)
            return;
        Unlink(pNode);
        Link(pNode, pNext);
    }

    // Relinks the list in the order of ppNodes, which holds every node of the list once.
    void Relink(Node* const* ppNodes, uint32_t nCount)
    {
        m_pHead = m_pTail = nullptr;
        m_nCount = 0;
        m_pCursor = nullptr;
        for (uint32_t i = 0; i < nCount; ++i)
            Link(ppNodes[i], nullptr);
    }

private:
    void Link(Node* pNode, Node* pNext)
    {
        Node* pPrev = pNext ? pNext->pPrev : m_pTail;
        pNode->pPrev = pPrev;
        pNode->pNext = pNext;
        (pPrev ? pPrev->pNext : m_pHead) = pNode;
        (pNext ? pNext->pPrev : m_pTail) = pNode;
        ++m_nCount;
        m_pCursor = nullptr;
    }

    void Unlink(Node* pNode)
    {
        (pNode->pPrev ? pNode->pPrev->pNext : m_pHead) = pNode->pNext;
        (pNode->pNext ? pNode->pNext->pPrev : m_pTail) = pNode->pPrev;
        --m_nCount;
        m_pCursor = nullptr;
    }

    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    uint32_t m_nCount = 0;
    mutable Node* m_pCursor = nullptr;
    mutable uint32_t m_nCursor = 0;
};

// A timed instance of one effect type. Its name is m_sName; its prefab, when it has one, is the
// parent set.
class CEffectKey : public CEffectPropertySet
{
public:
    explicit CEffectKey(const EffectTypeDesc* pTypeDesc) : CEffectPropertySet(pTypeDesc) {}

    void SetMotionLink(int32_t nID)
    {
        m_bMotionLink = true;
        m_nMotionLinkID = nID;
    }
    void ClearMotionLink()
    {
        m_bMotionLink = false;
        m_nMotionLinkID = 0;
    }

    int32_t m_nID = 0;          // the key's number within its effect
    uint32_t m_nTrack = 0;      // 0-based number of the track that holds it
    int32_t m_nStartTime = 0;   // milliseconds from the start of the effect
    int32_t m_nEndTime = 0;     // milliseconds from the start of the effect
    bool m_bMotionLink = false; // m_nMotionLinkID is meaningful
    int32_t m_nMotionLinkID = 0;
};

// The keys of one track, owned, ordered by start time. Start times of keys in a track change only
// through the track.
class CEffectTrack
{
public:
    CEffectTrack() = default;
    ~CEffectTrack();
    CEffectTrack(const CEffectTrack&) = delete;
    CEffectTrack& operator=(const CEffectTrack&) = delete;

    // Appends the key, then SortAndFit. False when no node can be had: the key is not taken.
    bool AddKey(CEffectKey* pKey);
    // Orders the keys by start time (stable), then fits pKey between its neighbours: its start is
    // raised to the previous key's end (to 0 when it is first), its end lowered to the next key's
    // start. Only pKey changes.
    void SortAndFit(CEffectKey* pKey);

    // Appends without ordering; the track owns the key from here on. False when no node can be had.
    bool AddTail(CEffectKey* pKey);
    CEffectKey* GetAt(uint32_t nIndex) const { return m_Keys.GetAt(nIndex); }
    uint32_t GetCount() const { return m_Keys.GetCount(); }

private:
    typedef CEffectList<CEffectKey>::Node Node;

    void Fit(Node* pNode);
    void SortAll();
    void RebuildIndex();

    CEffectList<CEffectKey> m_Keys;
    // While m_bIndexed, one entry per node, ordered as the list is and keyed by the current start
    // time: the list is sorted and a new key's place is a lookup away.
    std::multimap<int32_t, Node*> m_Index;
    bool m_bIndexed = true;
};

class CEffectDef
{
public:
    // Named "Untitled FX %d" by the process-wide counter, which every construction advances.
    CEffectDef();
    // Destroys the tracks and their keys.
    ~CEffectDef();
    CEffectDef(const CEffectDef&) = delete;
    CEffectDef& operator=(const CEffectDef&) = delete;

    // Appends an empty track; null when none can be had.
    CEffectTrack* NewTrack();

    char szName[128];
    CEffectList<CEffectTrack> m_Tracks; // a track's position is its track number
    int32_t m_nLength = 10000;          // milliseconds
};

class CEffectCollection
{
public:
    CEffectCollection() = default;
    ~CEffectCollection() { Clear(); }
    CEffectCollection(const CEffectCollection&) = delete;
    CEffectCollection& operator=(const CEffectCollection&) = delete;

    // A new effect appended to m_Effects; null when none can be had.
    CEffectDef* NewEffect();
    // A new prefab of that type appended to m_Prefabs; null when none can be had.
    CEffectPropertySet* NewPrefab(const EffectTypeDesc* pTypeDesc);
    // The first prefab, in load order, whose name equals pszName ignoring case; null when none.
    // A name index beside the list takes in new prefabs at the next lookup; a name it does not
    // hold is looked for in the list, so renamed prefabs are found too.
    CEffectPropertySet* FindPrefab(const char* pszName) const;
    // Name comparisons made by FindPrefab so far (for tests that guard against linear lookups).
    uint64_t GetPrefabNameCompares() const { return m_nPrefabNameCompares; }
    // Destroys every effect, then every prefab: keys go before the prefabs they point to; the
    // shared default properties go last.
    void Clear();
    // The default properties that the document's keys and prefabs share.
    CEffectPropertyDefaults& GetDefaults() { return m_Defaults; }

    CEffectList<CEffectDef> m_Effects;
    std::vector<CEffectPropertySet*> m_Prefabs;

private:
    bool IndexNewPrefabs() const;
    CEffectPropertySet* FindPrefabLinear(const char* pszName) const;

    // Lower-case name to the first prefab of that name, for m_Prefabs[0, m_nPrefabsIndexed).
    mutable std::unordered_map<std::string, CEffectPropertySet*> m_PrefabIndex;
    mutable size_t m_nPrefabsIndexed = 0;
    mutable uint64_t m_nPrefabNameCompares = 0;
    CEffectPropertyDefaults m_Defaults;
};
