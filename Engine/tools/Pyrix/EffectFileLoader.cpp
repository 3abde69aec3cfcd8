#include "EffectFileLoader.h"

#include "ZQNumbers.h"
#include "zqaloadonlyalloc.h"
#include "zqanodreader.h"
#include "zqareader.h"
#include "zqautil.h"
#include "zqstrutils.h"

#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#define ZQ_THIS_FILE "Engine/tools/Pyrix/EffectFileLoader"

namespace
{
const size_t kMessageSize = 512;

// Where each list stands in its record's table (kKeyLists and the others, below): the tables own
// the names.
enum RootList
{
    ROOT_HEADER,
    ROOT_PREFAB_TREE,
    ROOT_EFFECT_TREE
};
enum HeaderList
{
    HEADER_VERSION
};
enum ContainerList
{
    CONTAINER_NAME,
    CONTAINER_CHILDREN
};
enum PrefabList
{
    PREFAB_NAME,
    PREFAB_TYPE,
    PREFAB_PROPERTIES
};
enum EffectList
{
    EFFECT_NAME,
    EFFECT_LENGTH,
    EFFECT_KEY_LIST
};
enum KeyList
{
    KEY_TYPE,
    KEY_ID,
    KEY_TRACK,
    KEY_START_TIME,
    KEY_END_TIME,
    KEY_NAME,
    KEY_PARENT,
    KEY_MOTION_LINK,
    KEY_PROPERTIES
};
enum MotionLinkList
{
    MOTION_LINK_ID
};
enum PropertyList
{
    PROPERTY_NAME,
    PROPERTY_TYPE,
    PROPERTY_VALUE_LIST
};
enum ValueList
{
    VALUE_TIME,
    VALUE_DATA
};

struct TreeKind
{
    const char* pszLeaf;       // "prefab" or "effect"
    const char* pszLeafFailed; // the leaf's failure message
    // With pRelease, what the tree holds before a part of the leaf may go back once that part is due.
    bool (*pfnLoadLeaf)(const CZQANode*, CEffectCollection&, const CEffectModule&, std::string&,
                        CZQALoadOnlyAlloc* pRelease);
};

// True when pNode is a list whose first element is the atom pszName.
bool IsNamedList(const CZQANode* pNode, const char* pszName)
{
    if (!pNode || !pNode->IsList() || pNode->GetNumElements() == 0)
        return false;
    const CZQANode* pFirst = pNode->GetElement(0);
    return pFirst && pFirst->IsAtom() && std::strcmp(pFirst->GetValue(), pszName) == 0;
}

// Calls fn for every child of pList (its elements after the name) that is a pszName list.
template <class Fn>
bool ForEachNamedChild(const CZQANode* pList, const char* pszName, Fn fn)
{
    const uint32_t nCount = pList->GetNumElements();
    for (uint32_t i = 1; i < nCount; ++i)
    {
        const CZQANode* pChild = pList->GetElement(i);
        if (IsNamedList(pChild, pszName) && !fn(pChild))
            return false;
    }
    return true;
}

// The value named pszName: the second element of the first pszName list, when it is an atom.
const char* FindValue(const CZQANode* pList, const char* pszName)
{
    const CZQANode* pFound = FindList(pList, pszName);
    if (!pFound || pFound->GetNumElements() < 2)
        return nullptr;
    const CZQANode* pValue = pFound->GetElement(1);
    return pValue && pValue->IsAtom() ? pValue->GetValue() : nullptr;
}

// Room for nValues loaded keys and for the default keys that normalising may add: across a large
// file neither spare room nor a regrown array is cheap.
uint32_t KeysAfterNormalizing(const EffectPropDesc& desc, uint32_t nValues)
{
    const uint32_t nLeast = desc.m_bFunctionCurve && desc.m_bCurveEndKey ? 2 : 1;
    return nValues > nLeast ? nValues : nLeast;
}

// True when every one of the record's required lists holds a value.
bool HasRequired(const CZQANode* pNode, const EffectRecordLists& record)
{
    for (uint32_t i = 0; i < record.nRequired; ++i)
    {
        if (!FindValue(pNode, record.apszLists[i]))
            return false;
    }
    return true;
}

// Names in a module's records are fixed-size fields; compared within the field.
bool FieldEqualsNoCase(const char* pField, size_t nFieldSize, const char* pszText)
{
    char szField[sizeof(static_cast<EffectPropDesc*>(nullptr)->szName) + 1];
    const size_t nLen = strnlen(pField, nFieldSize < sizeof(szField) ? nFieldSize : sizeof(szField) - 1);
    std::memcpy(szField, pField, nLen);
    szField[nLen] = '\0';
    return ZQStrICmp(szField, pszText) == 0;
}

const EffectPropDesc* FindPropDesc(const EffectTypeDesc* pTypeDesc, const char* pszName)
{
    if (!pTypeDesc->pProps)
        return nullptr;
    for (uint32_t i = 0; i < pTypeDesc->nNumProps; ++i)
    {
        const EffectPropDesc& desc = pTypeDesc->pProps[i];
        if (FieldEqualsNoCase(desc.szName, sizeof(desc.szName), pszName))
            return &desc;
    }
    return nullptr;
}

// Fills the value of `key` from the data list, read as type eType. False when the list does not
// hold the atoms that the type needs.
bool LoadPropertyValue(const CZQANode* pData, uint32_t eType, EffectPropertyKey& key)
{
    const uint32_t nNeeded = AtomsForType(eType);
    if (pData->GetNumElements() < nNeeded + 1)
        return false;
    const char* apszValues[4] = {};
    for (uint32_t i = 0; i < nNeeded; ++i)
    {
        const CZQANode* pElement = pData->GetElement(i + 1);
        if (!pElement || !pElement->IsAtom())
            return false;
        apszValues[i] = pElement->GetValue();
    }

    EffectPropValue& value = key.Value;
    switch (eType)
    {
    case ePT_Int:
        value.nValue = ZQAtoI(apszValues[0]);
        break;
    case ePT_Float:
        value.fValue = static_cast<float>(ZQAtoF(apszValues[0]));
        break;
    case ePT_Vector:
        for (int i = 0; i < 3; ++i)
            value.vValue[i] = static_cast<float>(ZQAtoF(apszValues[i]));
        break;
    case ePT_Color:
    {
        value.nColor = PackColor(ZQAtoI(apszValues[0]), ZQAtoI(apszValues[1]), ZQAtoI(apszValues[2]),
                                 ZQAtoI(apszValues[3]));
        break;
    }
    default:
        ZQStrCpy(value.szValue, apszValues[0], sizeof(value.szValue));
        break;
    }
    return true;
}

// pOut receives the property, or null when the property is skipped (a type name that is none of
// the nine, or a name the effect type does not have).
bool LoadProperty(const EffectTypeDesc* pTypeDesc, const CZQANode* pNode, CEffectProperty*& pOut,
                  std::string& sError)
{
    pOut = nullptr;
    const char* pszName = FindValue(pNode, kPropertyLists.apszLists[PROPERTY_NAME]);
    const char* pszType = FindValue(pNode, kPropertyLists.apszLists[PROPERTY_TYPE]);
    if (!HasRequired(pNode, kPropertyLists))
    {
        AppendError(sError, "Error loading name or type for property");
        return false;
    }
    uint32_t eType = ePT_None;
    if (!TypeFromName(pszType, eType))
        return true;
    const EffectPropDesc* pDesc = FindPropDesc(pTypeDesc, pszName);
    if (!pDesc)
        return true;
    CEffectProperty* pProp = new (std::nothrow) CEffectProperty(pDesc);
    if (!pProp)
    {
        AppendError(sError, "Unable to allocate memory for property %s", pszName);
        return false;
    }
    pOut = pProp;

    const CZQANode* pValueList = FindList(pNode, kPropertyLists.apszLists[PROPERTY_VALUE_LIST]);
    if (!pValueList)
        return true;
    pProp->ReserveKeys(KeysAfterNormalizing(*pDesc, pValueList->GetNumElements() - 1));
    // Values are appended and sorted once: the insertion sort is online, so the order is the one
    // that sorting after every append would give, without its quadratic cost.
    ForEachNamedChild(pValueList, kValueLists.pszRecord,
                      [&](const CZQANode* pValue)
                      {
                          const char* pszTime = FindValue(pValue, kValueLists.apszLists[VALUE_TIME]);
                          const CZQANode* pData = FindList(pValue, kValueLists.apszLists[VALUE_DATA]);
                          if (pszTime && pData)
                          {
                              EffectPropertyKey key;
                              std::memset(&key, 0, sizeof(key));
                              key.fTime = static_cast<float>(ZQAtoF(pszTime));
                              if (LoadPropertyValue(pData, eType, key))
                                  pProp->AppendKey(key);
                          }
                          return true;
                      });
    pProp->SortKeys();
    return true;
}

// Loads the "property" children of pProperties into pSet; pszOwner names the set in the message.
bool LoadProperties(const CZQANode* pProperties, CEffectPropertySet* pSet, std::string& sError)
{
    if (!pProperties)
        return true;
    return ForEachNamedChild(pProperties, kPropertyLists.pszRecord,
                             [&](const CZQANode* pPropNode)
                             {
                                 CEffectProperty* pProp = nullptr;
                                 if (!LoadProperty(pSet->m_pTypeDesc, pPropNode, pProp, sError))
                                 {
                                     AppendError(sError, "Error loading property of key %s",
                                                 pSet->m_sName.c_str());
                                     return false;
                                 }
                                 if (pProp && !pSet->SetProperty(pProp))
                                     delete pProp;
                                 return true;
                             });
}

bool SetName(CEffectPropertySet* pSet, const char* pszName)
{
    try
    {
        pSet->m_sName = pszName;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return true;
}

// The node of pNode's subtree that the tree builder allocated first: its leftmost atom, or the
// innermost empty list on the way there.
const CZQANode* FirstAllocated(const CZQANode* pNode)
{
    while (pNode && pNode->IsList() && pNode->GetNumElements() > 0)
        pNode = pNode->GetElement(0);
    return pNode;
}

// Before an item of a tree is loaded, the tree's blocks that only hold what came before it in the
// file go back (the items before it are loaded, and every list's own node and element array come
// after its contents). Null pAlloc keeps everything.
void ReleaseBefore(CZQALoadOnlyAlloc* pAlloc, const CZQANode* pItem)
{
    if (!pAlloc)
        return;
    if (const CZQANode* pFirst = FirstAllocated(pItem))
        pAlloc->FreeBlocksBefore(pFirst);
}

bool LoadPrefab(const CZQANode* pNode, CEffectCollection& collection, const CEffectModule& module,
                std::string& sError, CZQALoadOnlyAlloc*)
{
    const char* pszName = FindValue(pNode, kPrefabLists.apszLists[PREFAB_NAME]);
    const char* pszType = FindValue(pNode, kPrefabLists.apszLists[PREFAB_TYPE]);
    const CZQANode* pProperties = FindList(pNode, kPrefabLists.apszLists[PREFAB_PROPERTIES]);
    if (!HasRequired(pNode, kPrefabLists))
    {
        AppendError(sError, "Unable to find a required parameter for prefab");
        return false;
    }
    const EffectTypeDesc* pTypeDesc = module.FindTypeDesc(pszType);
    if (!pTypeDesc)
        return false;
    CEffectPropertySet* pPrefab = collection.NewPrefab(pTypeDesc);
    if (!pPrefab || !SetName(pPrefab, pszName))
    {
        AppendError(sError, "Failed to allocate memory for Prefab %s", pszName);
        return false;
    }
    // On failure the prefab stays in the collection, which destroys it with the rest.
    if (!LoadProperties(pProperties, pPrefab, sError))
        return false;
    pPrefab->FillMissingProperties(&collection.GetDefaults());
    pPrefab->NormalizeProperties();
    return true;
}

CEffectKey* LoadKey(const CZQANode* pNode, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sError)
{
    const char* pszName = FindValue(pNode, kKeyLists.apszLists[KEY_NAME]);
    const char* pszType = FindValue(pNode, kKeyLists.apszLists[KEY_TYPE]);
    const char* pszID = FindValue(pNode, kKeyLists.apszLists[KEY_ID]);
    const char* pszStart = FindValue(pNode, kKeyLists.apszLists[KEY_START_TIME]);
    const char* pszEnd = FindValue(pNode, kKeyLists.apszLists[KEY_END_TIME]);
    const char* pszTrack = FindValue(pNode, kKeyLists.apszLists[KEY_TRACK]);
    const char* pszParent = FindValue(pNode, kKeyLists.apszLists[KEY_PARENT]);
    const CZQANode* pMotionLink = FindList(pNode, kKeyLists.apszLists[KEY_MOTION_LINK]);
    const CZQANode* pProperties = FindList(pNode, kKeyLists.apszLists[KEY_PROPERTIES]);
    if (!HasRequired(pNode, kKeyLists))
    {
        AppendError(sError, "Unable to find a required parameter for key");
        return nullptr;
    }
    const EffectTypeDesc* pTypeDesc = module.FindTypeDesc(pszType);
    if (!pTypeDesc)
        return nullptr;
    CEffectKey* pKey = new (std::nothrow) CEffectKey(pTypeDesc);
    if (!pKey || (pszName && !SetName(pKey, pszName)))
    {
        delete pKey;
        AppendError(sError, "Failed to allocate memory for key %s", pszName ? pszName : "");
        return nullptr;
    }
    if (pszParent)
    {
        CEffectPropertySet* pPrefab = collection.FindPrefab(pszParent);
        if (!pPrefab)
        {
            AppendError(sError, "Failed to find prefab %s for key %s", pszParent, pKey->m_sName.c_str());
            delete pKey;
            return nullptr;
        }
        // A prefab of another type is not taken; the key then stands alone.
        pKey->SetParent(pPrefab);
    }
    pKey->m_nID = ZQAtoI(pszID);
    pKey->m_nTrack = static_cast<uint32_t>(ZQAtoI(pszTrack));
    pKey->m_nStartTime = ZQAtoI(pszStart);
    pKey->m_nEndTime = ZQAtoI(pszEnd);
    pKey->ClearMotionLink();
    if (pMotionLink)
    {
        if (const char* pszLinkID = FindValue(pMotionLink, kMotionLinkLists.apszLists[MOTION_LINK_ID]))
            pKey->SetMotionLink(ZQAtoI(pszLinkID));
    }
    if (!LoadProperties(pProperties, pKey, sError))
    {
        delete pKey;
        return nullptr;
    }
    // With a prefab the root filled is the prefab, already complete: the key's own slots stay as
    // loaded and the rest are inherited.
    pKey->FillMissingProperties(&collection.GetDefaults());
    pKey->NormalizeProperties();
    return pKey;
}

// The keys go back one by one as they are loaded: an effect's document grows while its tree shrinks.
bool LoadEffect(const CZQANode* pNode, CEffectCollection& collection, const CEffectModule& module,
                std::string& sError, CZQALoadOnlyAlloc* pRelease)
{
    const char* pszName = FindValue(pNode, kEffectLists.apszLists[EFFECT_NAME]);
    const char* pszLength = FindValue(pNode, kEffectLists.apszLists[EFFECT_LENGTH]);
    const CZQANode* pKeyList = FindList(pNode, kEffectLists.apszLists[EFFECT_KEY_LIST]);
    if (!HasRequired(pNode, kEffectLists))
    {
        AppendError(sError, "Error finding name and length of effect");
        return false;
    }
    CEffectDef* pEffect = collection.NewEffect();
    if (!pEffect)
    {
        AppendError(sError, "Unable to allocate memory for effect %s", pszName);
        return false;
    }
    ZQStrCpy(pEffect->szName, pszName, sizeof(pEffect->szName));
    pEffect->m_nLength = ZQAtoI(pszLength);
    if (!pKeyList)
        return true;

    // The effect's tracks by number, beside m_Tracks, so that placing a key never walks the list.
    std::vector<CEffectTrack*> tracks;
    return ForEachNamedChild(pKeyList, kKeyLists.pszRecord,
                             [&](const CZQANode* pKeyNode)
                             {
                                 ReleaseBefore(pRelease, pKeyNode);
                                 CEffectKey* pKey = LoadKey(pKeyNode, collection, module, sError);
                                 if (!pKey)
                                 {
                                     AppendError(sError, "Error loading key for effect %s", pEffect->szName);
                                     return false;
                                 }
                                 const uint32_t nTrack = pKey->m_nTrack;
                                 bool bHaveTrack = nTrack < kMaxTracks;
                                 while (bHaveTrack && tracks.size() <= nTrack)
                                 {
                                     CEffectTrack* pTrack = pEffect->NewTrack();
                                     bHaveTrack = pTrack != nullptr;
                                     try
                                     {
                                         if (pTrack)
                                             tracks.push_back(pTrack);
                                     }
                                     catch (const std::bad_alloc&)
                                     {
                                         bHaveTrack = false;
                                     }
                                 }
                                 if (!bHaveTrack)
                                 {
                                     AppendError(sError, "Unable to allocate track for effect %s",
                                                 pEffect->szName);
                                     delete pKey;
                                     return false;
                                 }
                                 if (!tracks[nTrack]->AddKey(pKey))
                                 {
                                     AppendError(sError, "Error loading key for effect %s", pEffect->szName);
                                     delete pKey;
                                     return false;
                                 }
                                 return true;
                             });
}

const TreeKind kPrefabTree = {kPrefabLists.pszRecord, "Error loading prefab", LoadPrefab};
const TreeKind kEffectTree = {kEffectLists.pszRecord, "Error loading effect", LoadEffect};

// LoadPrefabTreeNode and LoadEffectTreeNode: containers recurse, leaves of the tree's own kind
// load, anything else is skipped. With pRelease, memory of the items already loaded is given back
// on the way.
bool LoadTreeNode(const TreeKind& kind, const CZQANode* pNode, CEffectCollection& collection,
                  const CEffectModule& module, std::string& sError, CZQALoadOnlyAlloc* pRelease)
{
    if (IsNamedList(pNode, kContainerLists.pszRecord))
    {
        const char* pszName = FindValue(pNode, kContainerLists.apszLists[CONTAINER_NAME]);
        if (!pszName)
        {
            AppendError(sError, "Unable to find container name");
            return false;
        }
        const CZQANode* pChildren = FindList(pNode, kContainerLists.apszLists[CONTAINER_CHILDREN]);
        if (!pChildren)
            return true;
        // The name lies before the children: kept aside when their loading releases it.
        std::string sName;
        if (pRelease)
        {
            try
            {
                sName = pszName;
                pszName = sName.c_str();
            }
            catch (const std::bad_alloc&)
            {
                pRelease = nullptr;
            }
        }
        const uint32_t nCount = pChildren->GetNumElements();
        for (uint32_t i = 1; i < nCount; ++i)
        {
            const CZQANode* pChild = pChildren->GetElement(i);
            ReleaseBefore(pRelease, pChild);
            if (!LoadTreeNode(kind, pChild, collection, module, sError, pRelease))
            {
                AppendError(sError, "Failed loading children of container %s", pszName);
                return false;
            }
        }
        return true;
    }
    if (IsNamedList(pNode, kind.pszLeaf))
    {
        if (!kind.pfnLoadLeaf(pNode, collection, module, sError, pRelease))
        {
            AppendError(sError, "%s", kind.pszLeafFailed);
            return false;
        }
    }
    return true;
}

bool LoadTree(const TreeKind& kind, const CZQANode* pTree, CEffectCollection& collection,
              const CEffectModule& module, std::string& sError, CZQALoadOnlyAlloc* pRelease)
{
    const uint32_t nCount = pTree->GetNumElements();
    for (uint32_t i = 1; i < nCount; ++i)
    {
        const CZQANode* pItem = pTree->GetElement(i);
        ReleaseBefore(pRelease, pItem);
        if (!LoadTreeNode(kind, pItem, collection, module, sError, pRelease))
            return false;
    }
    return true;
}

// The three steps of a document, each with its failure's message.
bool HeaderIsValid(const CZQANode* pHeader)
{
    const char* pszVersion = pHeader ? FindValue(pHeader, kHeaderLists.apszLists[HEADER_VERSION]) : nullptr;
    return pszVersion && ZQAtoI(pszVersion) == 1;
}

bool LoadPrefabTree(const CZQANode* pPrefabTree, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sError)
{
    if (!LoadTree(kPrefabTree, pPrefabTree, collection, module, sError, nullptr))
    {
        AppendError(sError, "Failed loading prefab tree");
        return false;
    }
    return true;
}

// One item of the effect tree; what the tree holds before it may go back to pRelease.
bool LoadEffectTreeItem(const CZQANode* pItem, CEffectCollection& collection, const CEffectModule& module,
                        std::string& sError, CZQALoadOnlyAlloc* pRelease)
{
    ReleaseBefore(pRelease, pItem);
    if (!LoadTreeNode(kEffectTree, pItem, collection, module, sError, pRelease))
    {
        AppendError(sError, "Failed loading effect tree");
        return false;
    }
    return true;
}

// The effect tree is the last thing read, so its loading may release the tree as it goes (to
// pRelease, unless null).
bool LoadDocument(const CZQANode* pRoot, CEffectCollection& collection, const CEffectModule& module,
                  std::string& sError, CZQALoadOnlyAlloc* pRelease)
{
    if (!HeaderIsValid(FindList(pRoot, kRootLists.apszLists[ROOT_HEADER])))
    {
        AppendError(sError, "Invalid file version");
        return false;
    }
    // Every prefab is loaded before the first effect, so a key may name any prefab of the file.
    if (const CZQANode* pPrefabTree = FindList(pRoot, kRootLists.apszLists[ROOT_PREFAB_TREE]))
    {
        if (!LoadPrefabTree(pPrefabTree, collection, module, sError))
            return false;
    }
    const CZQANode* pEffectTree = FindList(pRoot, kRootLists.apszLists[ROOT_EFFECT_TREE]);
    if (!pEffectTree)
    {
        AppendError(sError, "No effect list found in the file");
        return false;
    }
    const uint32_t nCount = pEffectTree->GetNumElements();
    for (uint32_t i = 1; i < nCount; ++i)
    {
        if (!LoadEffectTreeItem(pEffectTree->GetElement(i), collection, module, sError, pRelease))
            return false;
    }
    return true;
}

// The first of the nNodes nodes that is a pszName list, or null.
const CZQANode* FirstNamed(CZQANode* const* ppNodes, uint32_t nNodes, const char* pszName)
{
    for (uint32_t i = 0; i < nNodes; ++i)
    {
        if (IsNamedList(ppNodes[i], pszName))
            return ppNodes[i];
    }
    return nullptr;
}

// True when the list being read is named pszName: its first element is that atom.
bool ListIsNamed(CZQANode* const* ppList, uint32_t nList, const char* pszName)
{
    return nList > 1 && ppList[0]->IsAtom() && std::strcmp(ppList[0]->GetValue(), pszName) == 0;
}

// Loads the effect tree's items while the rest of the text is still read, each as soon as its ")"
// is, and gives their text back at once: the peak holds the document and one item's tree, not the
// whole file's. The result must be the one LoadDocument gives on the finished tree, so loading
// starts only when the header and any prefab tree have come before the first effect tree. Until the
// end is read the result may still be dropped, so reports are held back meanwhile; a report held
// back, or a prefab tree after the effects when none came before, means the file is read again and
// loaded the whole way.
class CEffectStream final : public IZQAItemObserver
{
public:
    enum EState
    {
        WAITING,  // no item of the first effect tree yet
        DECLINED, // the order does not allow it: LoadDocument loads the finished tree
        LOADING,
        FAILED, // an item or the prefab tree failed; the error is in the text
        REREAD  // the result may differ or a report was held back: read again, load the finished tree
    };

    CEffectStream(CEffectCollection& collection, const CEffectModule& module, std::string& sError,
                  CZQALoadOnlyAlloc& allocator)
        : m_Collection(collection), m_Module(module), m_sError(sError), m_Allocator(allocator)
    {
    }

    void OnItem(CZQANode* const* ppTops, uint32_t nTops, CZQANode* const* ppList, uint32_t nList) override
    {
        if (m_eState == WAITING)
            Start(ppTops, nTops, ppList, nList);
        if (m_eState != LOADING && m_eState != FAILED)
            return;
        if (nTops != m_nTops)
        {
            // A later top-level list: lists before it may have been given back, its own were not.
            if (!m_bPrefabsFirst && ListIsNamed(ppList, nList, kRootLists.apszLists[ROOT_PREFAB_TREE]))
                m_eState = REREAD;
            return;
        }
        if (m_eState == LOADING)
        {
            CZQReportHold hold;
            const bool bLoaded =
                LoadEffectTreeItem(ppList[nList - 1], m_Collection, m_Module, m_sError, &m_Allocator);
            m_eState = hold.GetHeld() > 0 ? REREAD : bLoaded ? LOADING : FAILED;
        }
    }

    // Whether anything was loaded on the way: the outcome is then the stream's, unless it must be
    // read again.
    bool HasLoaded() const { return m_eState == LOADING || m_eState == FAILED || m_eState == REREAD; }
    bool MustReread() const { return m_eState == REREAD; }
    bool Succeeded() const { return m_eState == LOADING; }

private:
    void Start(CZQANode* const* ppTops, uint32_t nTops, CZQANode* const* ppList, uint32_t nList)
    {
        if (!ListIsNamed(ppList, nList, kRootLists.apszLists[ROOT_EFFECT_TREE]))
            return; // an item of another list
        if (FirstNamed(ppTops, nTops, kRootLists.apszLists[ROOT_EFFECT_TREE]) ||
            !HeaderIsValid(FirstNamed(ppTops, nTops, kRootLists.apszLists[ROOT_HEADER])))
        {
            m_eState = DECLINED;
            return;
        }
        m_nTops = nTops;
        const CZQANode* pPrefabTree = FirstNamed(ppTops, nTops, kRootLists.apszLists[ROOT_PREFAB_TREE]);
        m_bPrefabsFirst = pPrefabTree != nullptr;
        CZQReportHold hold;
        const bool bLoaded = !pPrefabTree || LoadPrefabTree(pPrefabTree, m_Collection, m_Module, m_sError);
        m_eState = hold.GetHeld() > 0 ? REREAD : bLoaded ? LOADING : FAILED;
    }

    CEffectCollection& m_Collection;
    const CEffectModule& m_Module;
    std::string& m_sError;
    CZQALoadOnlyAlloc& m_Allocator;
    EState m_eState = WAITING;
    uint32_t m_nTops = 0;         // top-level items before the effect tree
    bool m_bPrefabsFirst = false; // the prefab tree came before the effect tree
};
} // namespace

const EffectTypeName kEffectTypeNames[9] = {
    {"String", ePT_String}, {"Filename", ePT_Filename},   {"Enum", ePT_Enum},
    {"Int", ePT_Int},       {"Float", ePT_Float},         {"Color", ePT_Color},
    {"Vector", ePT_Vector}, {"Animation", ePT_Animation}, {"SparkrigRef", ePT_SparkrigRef},
};

bool TypeFromName(const char* pszType, uint32_t& eType)
{
    for (const EffectTypeName& entry : kEffectTypeNames)
    {
        if (ZQStrICmp(pszType, entry.pszName) == 0)
        {
            eType = entry.eType;
            return true;
        }
    }
    return false;
}

const char* EffectTypeNameOf(uint32_t eType)
{
    for (const EffectTypeName& entry : kEffectTypeNames)
    {
        if (entry.eType == eType)
            return entry.pszName;
    }
    return eType == ePT_NoValue ? "NoValue" : eType == ePT_None ? "None" : nullptr;
}

uint32_t AtomsForType(uint32_t eType)
{
    return eType == ePT_Vector ? 3 : eType == ePT_Color ? 4 : 1;
}

uint32_t PackColor(int32_t nRed, int32_t nGreen, int32_t nBlue, int32_t nAlpha)
{
    const auto low = [](int32_t n) { return static_cast<uint32_t>(n) & 0xFFu; };
    return (low(nAlpha) << 24) | (low(nRed) << 16) | (low(nGreen) << 8) | low(nBlue);
}

const EffectRecordLists kHeaderLists = {"header", {"version"}, 1, 1};
const EffectRecordLists kContainerLists = {"container", {"name", "children"}, 2, 1};
const EffectRecordLists kPrefabLists = {"prefab", {"name", "type", "properties"}, 3, 2};
const EffectRecordLists kEffectLists = {"effect", {"name", "length", "key-list"}, 3, 2};
const EffectRecordLists kKeyLists = {
    "key",
    {"type", "id", "track", "start-time", "end-time", "name", "parent", "motion-link", "properties"},
    9,
    5};
const EffectRecordLists kMotionLinkLists = {"motion-link", {"id"}, 1, 0};
const EffectRecordLists kPropertyLists = {"property", {"name", "type", "value-list"}, 3, 2};
const EffectRecordLists kValueLists = {"value", {"time", "data"}, 2, 0};
const EffectRecordLists kRootLists = {"", {"header", "prefab-tree", "effect-tree"}, 3, 0};

void AppendError(std::string& sErrorText, const char* pszFormat, ...)
{
    char szMessage[kMessageSize];
    va_list args;
    va_start(args, pszFormat);
    ZQVSNPrintF(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    try
    {
        if (!sErrorText.empty())
            sErrorText += "\r\n";
        sErrorText += szMessage;
    }
    catch (const std::bad_alloc&)
    {
        // The message is lost; the failure it reports still stands.
    }
}

namespace
{
bool ModuleIsLoaded(const CEffectModule& module, std::string& sErrorText)
{
    if (module.IsLoaded())
        return true;
    AppendError(sErrorText, "No Sparkrig DLL was loaded");
    return false;
}

// Reads the text with fnRead (root, allocator, item observer or null) while the effects load as
// they come; when they cannot, from the finished tree.
template <class Read>
bool LoadThroughTree(Read fnRead, uint32_t nBlockSize, CEffectCollection& collection,
                     const CEffectModule& module, std::string& sErrorText)
{
    if (!ModuleIsLoaded(module, sErrorText))
        return false;
    const size_t nErrorStart = sErrorText.size();
    CZQALoadOnlyAlloc allocator(nBlockSize);
    CZQANode root;
    CEffectStream stream(collection, module, sErrorText, allocator);
    bool bRead = fnRead(&root, &allocator, &stream);
    bool bFromTree = !stream.HasLoaded();
    if (!bFromTree && (!bRead || stream.MustReread()))
    {
        // What was loaded on the way is not the file's result.
        collection.Clear();
        sErrorText.resize(nErrorStart);
        if (bRead)
        {
            root.Free(&allocator);
            allocator.FreeAllBlocks();
            bRead = fnRead(&root, &allocator, nullptr);
        }
        bFromTree = true;
    }
    bool bResult = bRead;
    if (!bRead)
        AppendError(sErrorText, "Failed to load the file from disk into memory");
    else if (bFromTree)
        bResult = LoadDocument(&root, collection, module, sErrorText, &allocator);
    else
        bResult = stream.Succeeded();
    // The tree goes before its allocator.
    root.Free(&allocator);
    return bResult;
}
} // namespace

bool LoadEffectFile(const char* pszFilename, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sErrorText)
{
    return LoadThroughTree(
        [&](CZQANode* pRoot, CZQALoadOnlyAlloc* pAllocator, CEffectStream* pStream)
        {
            const bool bCompressed = CZQAUtil::IsFileCompressed(pszFilename);
            return CZQANodeReader::LoadEntireFile(pszFilename, bCompressed, pRoot, pAllocator, pStream);
        },
        CZQALoadOnlyAlloc::MAX_TEXT_BLOCK, collection, module, sErrorText);
}

bool LoadEffectBytes(const uint8_t* pData, size_t nSize, bool bCompressed, CEffectCollection& collection,
                     const CEffectModule& module, std::string& sErrorText)
{
    return LoadThroughTree(
        [&](CZQANode* pRoot, CZQALoadOnlyAlloc* pAllocator, CEffectStream* pStream)
        {
            // The reader embeds the decoder's window and tables: too large for the stack.
            std::unique_ptr<CZQAReader> pReader(new (std::nothrow) CZQAReader);
            if (!pReader || !pReader->OpenMemory(pData, nSize, bCompressed))
                return false;
            return pStream ? CZQANodeReader::LoadEntireFile(*pReader, pRoot, pAllocator, *pStream)
                           : CZQANodeReader::LoadEntireFile(*pReader, pRoot, pAllocator);
        },
        CZQALoadOnlyAlloc::BlockSizeForText(nSize), collection, module, sErrorText);
}

bool LoadEffectTree(const CZQANode* pRoot, CEffectCollection& collection, const CEffectModule& module,
                    std::string& sErrorText)
{
    return ModuleIsLoaded(module, sErrorText) && pRoot &&
           LoadDocument(pRoot, collection, module, sErrorText, nullptr);
}
