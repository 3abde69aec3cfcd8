#include "EffectDocument.h"

#include "zqstrutils.h"

#include <algorithm>

#define ZQ_THIS_FILE "Engine/tools/Pyrix/EffectDocument"

namespace
{
// Names new effects; every construction uses up one number.
uint32_t s_nUntitledCounter = 0;

int32_t AsSigned(uint32_t n)
{
    return n <= static_cast<uint32_t>(INT32_MAX) ? static_cast<int32_t>(n) : -static_cast<int32_t>(~n) - 1;
}
} // namespace

CEffectTrack::~CEffectTrack()
{
    for (Node* pNode = m_Keys.GetHeadNode(); pNode; pNode = pNode->pNext)
        delete pNode->pData;
}

bool CEffectTrack::AddTail(CEffectKey* pKey)
{
    if (!m_Keys.AddTail(pKey))
        return false;
    // The new key's place is unknown: the next SortAndFit orders the whole track.
    m_bIndexed = false;
    m_Index.clear();
    return true;
}

bool CEffectTrack::AddKey(CEffectKey* pKey)
{
    if (!m_Keys.AddTail(pKey))
        return false;
    SortAndFit(pKey);
    return true;
}

void CEffectTrack::SortAndFit(CEffectKey* pKey)
{
    // The order wanted is that of repeated bubble passes from head to tail, exchanging neighbours
    // whose start times are out of order (signed), until a pass exchanges nothing: the stable sort
    // by start time, which is unique for integer keys. When the track was sorted before pKey was
    // appended, each pass can exchange only the pair that holds pKey, moving it one place toward
    // the head while the key before it starts later; so pKey lands after every key whose start
    // is <= its own and before the first that starts later, which is what the index's
    // upper_bound finds, in O(log n) instead of O(n^2) per key.
    //
    // The fit then changes only pKey: its start goes up to the previous key's end at most, its
    // end down to the next key's start at most. Both neighbours and their times stay as they
    // were, so the track is still sorted unless the raised start passed the next key's start
    // (possible only when the previous key already reached past the next one). That case is
    // detected below and makes the next call order the whole track, just as the bubble passes
    // would.
    Node* pTail = m_Keys.GetTailNode();
    if (m_bIndexed && pTail && pTail->pData == pKey && m_Index.size() + 1 == m_Keys.GetCount())
    {
        const auto itNext = m_Index.upper_bound(pKey->m_nStartTime);
        Node* pNext = itNext == m_Index.end() ? nullptr : itNext->second;
        m_Keys.MoveBefore(pTail, pNext);
        Fit(pTail);
        try
        {
            if (!pNext || pKey->m_nStartTime <= pNext->pData->m_nStartTime)
            {
                m_Index.emplace_hint(itNext, pKey->m_nStartTime, pTail);
                return;
            }
        }
        catch (const std::bad_alloc&)
        {
        }
        m_bIndexed = false;
        m_Index.clear();
        return;
    }

    SortAll();
    for (Node* pNode = m_Keys.GetHeadNode(); pNode; pNode = pNode->pNext)
    {
        if (pNode->pData == pKey)
        {
            Fit(pNode);
            break;
        }
    }
    RebuildIndex();
}

void CEffectTrack::Fit(Node* pNode)
{
    CEffectKey* pKey = pNode->pData;
    if (!pNode->pPrev)
    {
        if (pKey->m_nStartTime < 0)
            pKey->m_nStartTime = 0;
    }
    else if (pKey->m_nStartTime < pNode->pPrev->pData->m_nEndTime)
    {
        pKey->m_nStartTime = pNode->pPrev->pData->m_nEndTime;
    }
    if (pNode->pNext && pKey->m_nEndTime > pNode->pNext->pData->m_nStartTime)
        pKey->m_nEndTime = pNode->pNext->pData->m_nStartTime;
}

void CEffectTrack::SortAll()
{
    std::vector<Node*> nodes;
    try
    {
        nodes.reserve(m_Keys.GetCount());
    }
    catch (const std::bad_alloc&)
    {
        // Without room for the node array, the bubble passes themselves, in place.
        bool bExchanged = true;
        while (bExchanged)
        {
            bExchanged = false;
            for (Node* pNode = m_Keys.GetHeadNode(); pNode && pNode->pNext; pNode = pNode->pNext)
            {
                if (pNode->pData->m_nStartTime > pNode->pNext->pData->m_nStartTime)
                {
                    std::swap(pNode->pData, pNode->pNext->pData);
                    bExchanged = true;
                }
            }
        }
        return;
    }
    for (Node* pNode = m_Keys.GetHeadNode(); pNode; pNode = pNode->pNext)
        nodes.push_back(pNode);
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const Node* a, const Node* b)
                     { return a->pData->m_nStartTime < b->pData->m_nStartTime; });
    m_Keys.Relink(nodes.data(), static_cast<uint32_t>(nodes.size()));
}

void CEffectTrack::RebuildIndex()
{
    m_Index.clear();
    m_bIndexed = false;
    int32_t nPrevStart = INT32_MIN;
    for (Node* pNode = m_Keys.GetHeadNode(); pNode; pNode = pNode->pNext)
    {
        if (pNode->pData->m_nStartTime < nPrevStart)
        {
            m_Index.clear();
            return;
        }
        nPrevStart = pNode->pData->m_nStartTime;
        try
        {
            m_Index.emplace_hint(m_Index.end(), nPrevStart, pNode);
        }
        catch (const std::bad_alloc&)
        {
            m_Index.clear();
            return;
        }
    }
    m_bIndexed = true;
}

CEffectDef::CEffectDef()
{
    ZQSNPrintF(szName, sizeof(szName), "Untitled FX %d", AsSigned(s_nUntitledCounter));
    ++s_nUntitledCounter;
}

CEffectDef::~CEffectDef()
{
    for (CEffectList<CEffectTrack>::Node* pNode = m_Tracks.GetHeadNode(); pNode; pNode = pNode->pNext)
        delete pNode->pData;
}

CEffectTrack* CEffectDef::NewTrack()
{
    CEffectTrack* pTrack = new (std::nothrow) CEffectTrack();
    if (pTrack && !m_Tracks.AddTail(pTrack))
    {
        delete pTrack;
        pTrack = nullptr;
    }
    return pTrack;
}

CEffectDef* CEffectCollection::NewEffect()
{
    CEffectDef* pEffect = new (std::nothrow) CEffectDef();
    if (pEffect && !m_Effects.AddTail(pEffect))
    {
        delete pEffect;
        pEffect = nullptr;
    }
    return pEffect;
}

CEffectPropertySet* CEffectCollection::NewPrefab(const EffectTypeDesc* pTypeDesc)
{
    CEffectPropertySet* pPrefab = new (std::nothrow) CEffectPropertySet(pTypeDesc);
    if (!pPrefab)
        return nullptr;
    try
    {
        m_Prefabs.push_back(pPrefab);
    }
    catch (const std::bad_alloc&)
    {
        delete pPrefab;
        return nullptr;
    }
    return pPrefab;
}

namespace
{
// The key under which names equal ignoring case meet: ASCII letters folded, as ZQStrICmp does, and
// cut at the first zero byte, where the comparison ends.
std::string FoldedName(const char* pszName)
{
    std::string sKey(pszName);
    for (char& c : sKey)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return sKey;
}
} // namespace

bool CEffectCollection::IndexNewPrefabs() const
{
    if (m_nPrefabsIndexed > m_Prefabs.size())
    {
        m_PrefabIndex.clear(); // prefabs were removed behind the index's back
        m_nPrefabsIndexed = 0;
    }
    try
    {
        for (; m_nPrefabsIndexed < m_Prefabs.size(); ++m_nPrefabsIndexed)
        {
            CEffectPropertySet* pPrefab = m_Prefabs[m_nPrefabsIndexed];
            m_PrefabIndex.emplace(FoldedName(pPrefab->m_sName.c_str()), pPrefab); // the first one stays
        }
    }
    catch (const std::bad_alloc&)
    {
        m_PrefabIndex.clear();
        m_nPrefabsIndexed = 0;
        return false;
    }
    return true;
}

CEffectPropertySet* CEffectCollection::FindPrefabLinear(const char* pszName) const
{
    for (CEffectPropertySet* pPrefab : m_Prefabs)
    {
        ++m_nPrefabNameCompares;
        if (ZQStrICmp(pPrefab->m_sName.c_str(), pszName) == 0)
            return pPrefab;
    }
    return nullptr;
}

CEffectPropertySet* CEffectCollection::FindPrefab(const char* pszName) const
{
    if (!pszName)
        return nullptr;
    if (!IndexNewPrefabs())
        return FindPrefabLinear(pszName);
    try
    {
        const auto it = m_PrefabIndex.find(FoldedName(pszName));
        if (it != m_PrefabIndex.end())
        {
            ++m_nPrefabNameCompares;
            if (ZQStrICmp(it->second->m_sName.c_str(), pszName) == 0)
                return it->second;
        }
    }
    catch (const std::bad_alloc&)
    {
    }
    // A miss (which ends a load) or a stale entry: the scan has the answer, and when it finds a
    // prefab the index missed, a prefab was renamed and the index starts afresh.
    CEffectPropertySet* pFound = FindPrefabLinear(pszName);
    if (pFound)
    {
        m_PrefabIndex.clear();
        m_nPrefabsIndexed = 0;
    }
    return pFound;
}

void CEffectCollection::Clear()
{
    for (CEffectList<CEffectDef>::Node* pNode = m_Effects.GetHeadNode(); pNode; pNode = pNode->pNext)
        delete pNode->pData;
    m_Effects.RemoveAll();
    for (CEffectPropertySet* pPrefab : m_Prefabs)
        delete pPrefab;
    m_Prefabs.clear();
    m_PrefabIndex.clear();
    m_nPrefabsIndexed = 0;
    m_Defaults.Clear();
}
