#include "effectchecker.h"
#include "printable.h"

#include "EffectDocument.h"
#include "EffectFileLoader.h"
#include "EffectModule.h"
#include "EffectProperty.h"
#include "ZQNumbers.h"
#include "spelling.h"
#include "valuetext.h"
#include "zqautil.h"
#include "zqstrutils.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace
{

// The track fit looks at a key's times only: the checker's copies of keys for it are of a type
// without properties, so that they hold none.
const EffectTypeDesc kTimesOnly = {};

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// An atom's text as the tree holds it.
std::string Text(const CZQANode* pAtom)
{
    return pAtom->GetValue();
}

struct Prefab
{
    std::string sName;
    const EffectTypeDesc* pTypeDesc = nullptr;
    const CZQANode* pNode = nullptr;
    bool bUsed = false;
};

// Which list names a record looks for, so that a misspelt one gets a suggestion and one that belongs
// to an enclosing record gets the hint about a missing ')'.
struct RecordShape
{
    const char* pszName;
    std::vector<std::string> lists;
};

// A value a property loaded, in file order: the property keeps its values sorted by time.
struct LoadedValue
{
    float fTime;
    const CZQANode* pValue;
    const CZQANode* pTime;
};

class CChecker
{
public:
    CChecker(const std::string& sFile, const CSourceText& text, const CEffectModule& module,
             std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
        : m_sFile(sFile), m_Text(text), m_Module(module), m_diags(diags), m_pBudget(pBudget)
    {
        for (uint32_t i = 0; i < module.GetNumTypes(); ++i)
        {
            if (const EffectTypeDesc* pType = module.GetTypeDesc(i))
                m_typeNames.push_back(FixedName(pType->szName, sizeof(pType->szName)));
        }
    }

    void Run(const CZQANode& root);

private:
    Diagnostic& Report(DiagCode eCode, const CZQANode* pAt, std::string sMessage)
    {
        return Report(eCode, pAt ? m_Text.Offset(pAt) : 0, pAt ? m_Text.Length(pAt) : 1, std::move(sMessage));
    }
    Diagnostic& Report(DiagCode eCode, uint64_t nOffset, uint64_t nLength, std::string sMessage)
    {
        Diagnostic diag;
        diag.sFile = m_sFile;
        diag.eCode = eCode;
        diag.nOffset = nOffset;
        diag.nLength = nLength;
        diag.sMessage = std::move(sMessage);
        if (m_pBudget && !m_pBudget->Take(eCode))
        {
            m_Omitted = std::move(diag);
            m_Omitted.notes.clear();
            return m_Omitted;
        }
        m_diags.push_back(std::move(diag));
        return m_diags.back();
    }
    void Note(Diagnostic& diag, const CZQANode* pAt, std::string sMessage)
    {
        Note(diag, m_Text.Offset(pAt), std::move(sMessage));
    }
    void Note(Diagnostic& diag, uint64_t nOffset, std::string sMessage)
    {
        DiagnosticNote note;
        note.nOffset = nOffset;
        note.sMessage = std::move(sMessage);
        diag.notes.push_back(std::move(note));
    }

    // FindList of the text tree library, for a list that may be missing.
    static const CZQANode* FindList(const CZQANode* pList, const char* pszName)
    {
        return pList ? ::FindList(pList, pszName) : nullptr;
    }
    // FindValue: the atom after the name of the first pszName list, or null.
    static const CZQANode* FindValue(const CZQANode* pList, const char* pszName)
    {
        const CZQANode* pFound = FindList(pList, pszName);
        if (!pFound || pFound->GetNumElements() < 2 || pFound->GetElement(1)->IsList())
            return nullptr;
        return pFound->GetElement(1);
    }
    // "no 'x'" or "'x' has no value", for a missing value.
    static std::string Missing(const CZQANode* pList, const char* pszName)
    {
        return FindList(pList, pszName) ? Quote(pszName) + " has no value" : "no " + Quote(pszName);
    }

    void CheckRecord(const CZQANode* pRecord, const RecordShape& shape);
    void CheckValueList(const CZQANode* pValueList, const char* pszWhere);
    // pBefore: the last element before it that its holder takes (null when none).
    void ReportIgnored(const CZQANode* pElement, const CZQANode* pHolder, const char* pszWhere,
                       const std::vector<std::string>& expected, const CZQANode* pBefore,
                       const char* pszWhy = nullptr);
    bool TakenBy(const CZQANode* pList, const char* pszName) const;
    void ReportSurplusParens();

    int32_t CheckInteger(const CZQANode* pAtom, const char* pszWhat);
    float CheckFloat(const CZQANode* pAtom, const char* pszWhat);
    void CheckString(const CZQANode* pAtom, size_t nMaxChars, const char* pszWhat);

    void CheckTree(const CZQANode* pTree, bool bPrefabs);
    // False when the node is ignored where it stands.
    bool CheckTreeNode(const CZQANode* pNode, const CZQANode* pHolder, bool bPrefabs, const char* pszWhere,
                       const CZQANode* pBefore);
    void CheckPrefab(const CZQANode* pNode);
    void CheckEffect(const CZQANode* pNode);
    void CheckKey(const CZQANode* pNode, int32_t nLength,
                  std::map<uint32_t, std::unique_ptr<CEffectTrack>>& tracks);
    void CheckKeyParent(const CZQANode* pParent, const EffectTypeDesc* pTypeDesc,
                        const std::string& sKeyName);
    void CheckProperties(const CZQANode* pProperties, const EffectTypeDesc* pTypeDesc);
    void CheckProperty(const CZQANode* pNode, const EffectTypeDesc* pTypeDesc);
    bool LoadValue(const CZQANode* pData, uint32_t eFileType, EffectPropertyKey& key);
    std::unordered_set<const CZQANode*> DroppedValues(const CZQANode* pValueList, uint32_t eFileType) const;
    // The outcome a finding about a value states: sPacked ("; it is packed as 1000"), or, while a
    // value that its property drops is read, that it is dropped.
    std::string Outcome(std::string sPacked) const
    {
        return m_pDroppedFrom ? "; the value is dropped: " + *m_pDroppedFrom +
                                    " is not a function curve and keeps only its earliest value"
                              : sPacked;
    }
    void CheckEnumChoice(const CZQANode* pData, const EffectPropDesc& desc, const std::string& sProp,
                         const EffectPropValue& value);
    void CheckKeptValues(std::vector<LoadedValue>& loaded, const EffectPropDesc& desc,
                         const std::string& sProp);

    const EffectTypeDesc* FindType(const CZQANode* pType, const char* pszFor);

    std::string m_sFile;
    const CSourceText& m_Text;
    const CEffectModule& m_Module;
    std::vector<Diagnostic>& m_diags;
    CFindingBudget* m_pBudget;
    // Takes the findings beyond the budget; never reported.
    Diagnostic m_Omitted;
    // The property whose dropped value is being read, or null.
    const std::string* m_pDroppedFrom = nullptr;
    std::vector<std::string> m_typeNames;
    std::vector<Prefab> m_prefabs;
    // Effect names as stored (cut to their first characters), viewing the tree's own text.
    std::unordered_map<std::string_view, const CZQANode*> m_effectNames;
    // The records being checked, outermost first: their list names tell where a stray list belongs.
    std::vector<const RecordShape*> m_shapes;
    // The tree being checked: which leaves its containers take.
    bool m_bPrefabs = false;
    // A list that a ')' closed early, and an element after it, outside, that belongs in it.
    struct CutOff
    {
        const CZQANode* pList;
        uint64_t nClose; // the ")" that closed the list
        const CZQANode* pElement;
        const char* pszWhere; // the list that holds the element instead
    };
    std::vector<CutOff> m_cutOffs;
};

RecordShape Shape(const EffectRecordLists& record)
{
    return {record.pszRecord, std::vector<std::string>(record.apszLists, record.apszLists + record.nLists)};
}

const RecordShape kHeader = Shape(kHeaderLists);
const RecordShape kContainer = Shape(kContainerLists);
const RecordShape kPrefab = Shape(kPrefabLists);
const RecordShape kEffect = Shape(kEffectLists);
const RecordShape kKey = Shape(kKeyLists);
const RecordShape kMotionLink = Shape(kMotionLinkLists);
const RecordShape kProperty = Shape(kPropertyLists);
const RecordShape kValue = Shape(kValueLists);
const RecordShape* const kRecords[] = {&kHeader, &kContainer,  &kPrefab,   &kEffect,
                                       &kKey,    &kMotionLink, &kProperty, &kValue};
const std::vector<std::string> kRootListNames = Shape(kRootLists).lists;
// Names that only the collections hold: a stray one in a record means a ')' went missing above it.
const std::vector<std::string> kItemNames = {"container", "prefab", "effect", "key", "property", "value"};

// Whether a list of the effect file takes a list of that name among its elements.
bool CChecker::TakenBy(const CZQANode* pList, const char* pszName) const
{
    const char* pszList = ListName(pList);
    if (!pszList || !pszName)
        return false;
    const std::string sList = pszList, sName = pszName;
    if (sList == "effect-tree" || sList == "prefab-tree" || sList == "children")
    {
        const bool bPrefabs = sList == "children" ? m_bPrefabs : sList == "prefab-tree";
        return sName == "container" || sName == (bPrefabs ? "prefab" : "effect");
    }
    if (sList == "key-list" || sList == "properties" || sList == "value-list")
        return sName == (sList == "key-list" ? "key" : sList == "properties" ? "property" : "value");
    for (const RecordShape* pShape : kRecords)
    {
        if (sList == pShape->pszName)
            return std::find(pShape->lists.begin(), pShape->lists.end(), sName) != pShape->lists.end();
    }
    return false;
}

// "effect 'Ground_Slam'", "the value at time 0.5", "'key-list'": an element as people find it.
std::string Describe(const CZQANode* pList)
{
    const char* pszName = ListName(pList);
    if (!pszName)
        return "a list";
    const std::string sName = pszName;
    for (uint32_t i = 1; i < pList->GetNumElements(); ++i)
    {
        const CZQANode* pElement = pList->GetElement(i);
        const char* pszKey = sName == "value" ? "time" : "name";
        if (IsNamed(pElement, pszKey) && pElement->GetNumElements() > 1 && pElement->GetElement(1)->IsAtom())
        {
            if (sName == "value")
                return "the value at time " + Printable(pElement->GetElement(1)->GetValue());
            if (sName == "container" || sName == "prefab" || sName == "effect" || sName == "key" ||
                sName == "property")
                return sName + " " + Quote(pElement->GetElement(1)->GetValue());
        }
    }
    return Quote(sName);
}

void CChecker::ReportIgnored(const CZQANode* pElement, const CZQANode* pHolder, const char* pszWhere,
                             const std::vector<std::string>& expected, const CZQANode* pBefore,
                             const char* pszWhy)
{
    const char* pszName = ListName(pElement);
    // A list that the list before it takes: that list was closed before it. With a ')' left over
    // later on, the ')' that closed it is one too many; the finding goes there (ReportSurplusParens).
    uint64_t nClose = 0, nUnmatched = 0;
    const bool bAfterItsList = pszName && pBefore && TakenBy(pBefore, pszName);
    if (bAfterItsList && m_Text.CloseOffset(pBefore, nClose) && m_Text.LastUnmatchedClose(nUnmatched) &&
        nUnmatched > nClose)
    {
        m_cutOffs.push_back({pBefore, nClose, pElement, pszWhere});
        return;
    }
    if (!pElement->IsList())
    {
        Report(DiagCode::IgnoredList, pElement,
               Quote(Text(pElement)) + " is ignored inside " + Quote(pszWhere) + (pszWhy ? pszWhy : ""));
        return;
    }
    if (!pszName)
    {
        Report(DiagCode::IgnoredList, pElement,
               std::string((pElement->GetNumElements() == 0) ? "empty list" : "list without a name") +
                   " is ignored inside " + Quote(pszWhere));
        return;
    }
    std::string sMessage = "list " + Quote(pszName) + " is ignored inside " + Quote(pszWhere);
    if (pszWhy)
        sMessage += pszWhy;
    else
    {
        // A list that an enclosing record or collection expects: its own list was not closed.
        bool bBelongsAbove = false;
        for (const std::string& sItem : kItemNames)
            bBelongsAbove = bBelongsAbove || sItem == pszName;
        for (const RecordShape* pShape : m_shapes)
        {
            for (const std::string& sList : pShape->lists)
                bBelongsAbove = bBelongsAbove || sList == pszName;
        }
        const std::string sHint = DidYouMean(pszName, expected);
        if (!sHint.empty())
            sMessage += sHint;
        else if (bAfterItsList)
        {
            sMessage += "; does it belong in the " + Describe(pBefore) + " before it?";
            Diagnostic& diag = Report(DiagCode::IgnoredList, pElement, sMessage);
            if (m_Text.CloseOffset(pBefore, nClose))
                Note(diag, nClose, "the " + Describe(pBefore) + " closes here");
            return;
        }
        else if (bBelongsAbove)
        {
            sMessage += "; is a ')' missing before it?";
            Diagnostic& diag = Report(DiagCode::IgnoredList, pElement, sMessage);
            if (pHolder && pHolder->IsList())
                Note(diag, pHolder, "the " + Quote(pszWhere) + " list that holds it opens here");
            return;
        }
    }
    Report(DiagCode::IgnoredList, pElement, sMessage);
}

// "effect 'A', key 'K' and 3 more".
std::string ListOf(const std::vector<const CZQANode*>& elements)
{
    constexpr size_t kNamed = 3;
    std::string s;
    const size_t nNamed = elements.size() > kNamed + 1 ? kNamed : elements.size();
    for (size_t i = 0; i < nNamed; ++i)
        s += (i == 0 ? "" : i + 1 == elements.size() ? " and " : ", ") + Describe(elements[i]);
    if (nNamed < elements.size())
        s += " and " + std::to_string(elements.size() - nNamed) + " more";
    return s;
}

// One finding at each ')' that closed a list early, naming what it left outside. The lists
// around that list then close one ')' early in turn, leaving more outside further on: that is
// named with it, not blamed on the ')' that closed them.
void CChecker::ReportSurplusParens()
{
    constexpr size_t kMaxNotes = 8;
    std::stable_sort(m_cutOffs.begin(), m_cutOffs.end(),
                     [](const CutOff& a, const CutOff& b) { return a.nClose < b.nClose; });
    struct Surplus
    {
        const CutOff* pFirst;
        std::vector<const CZQANode*> left, further;
        std::vector<const CutOff*> cuts;
    };
    std::vector<Surplus> surplus;
    for (const CutOff& cut : m_cutOffs)
    {
        // Sorted by their ")": a list that holds the last one closed early closes early because of it.
        Surplus* pLast = surplus.empty() ? nullptr : &surplus.back();
        if (pLast && pLast->pFirst->pList == cut.pList)
            pLast->left.push_back(cut.pElement);
        else if (pLast && m_Text.Offset(cut.pList) < m_Text.Offset(pLast->pFirst->pList) &&
                 cut.nClose > pLast->pFirst->nClose)
            pLast->further.push_back(cut.pElement);
        else
        {
            surplus.push_back({&cut, {cut.pElement}, {}, {}});
            pLast = &surplus.back();
        }
        pLast->cuts.push_back(&cut);
    }
    for (const Surplus& entry : surplus)
    {
        const bool bOne = entry.left.size() == 1;
        std::string sMessage = "')' closes " + Describe(entry.pFirst->pList) +
                               " early: " + ListOf(entry.left) + " after it " + (bOne ? "is" : "are") +
                               " left outside and not packed";
        if (!entry.further.empty())
            sMessage +=
                "; the lists around it then close early in turn, leaving out " + ListOf(entry.further);
        sMessage += "; is this ')' one too many?";
        Diagnostic& diag = Report(DiagCode::SurplusParen, entry.pFirst->nClose, 1, sMessage);
        for (size_t i = 0; i < entry.cuts.size() && i < kMaxNotes; ++i)
            Note(diag, entry.cuts[i]->pElement,
                 Describe(entry.cuts[i]->pElement) + " ends up in " + Quote(entry.cuts[i]->pszWhere) +
                     " here");
    }
    m_cutOffs.clear();
}

// The elements of a record after its name: lists the loader looks for (the first of each name
// counts), everything else is ignored.
void CChecker::CheckRecord(const CZQANode* pRecord, const RecordShape& shape)
{
    std::map<std::string, const CZQANode*> seen;
    const CZQANode* pBefore = nullptr;
    for (size_t i = 1; i < pRecord->GetNumElements(); ++i)
    {
        const CZQANode* pElement = pRecord->GetElement(static_cast<uint32_t>(i));
        const char* pszName = ListName(pElement);
        bool bKnown = false;
        for (const std::string& sList : shape.lists)
            bKnown = bKnown || (pszName && sList == pszName);
        if (!bKnown)
        {
            ReportIgnored(pElement, pRecord, shape.pszName, shape.lists, pBefore);
            continue;
        }
        pBefore = pElement;
        const auto inserted = seen.emplace(pszName, pElement);
        if (!inserted.second)
        {
            Diagnostic& diag = Report(DiagCode::DuplicateList, pElement,
                                      "second " + Quote(pszName) + " in " + Quote(shape.pszName) +
                                          " is ignored; only the first counts");
            Note(diag, inserted.first->second, "the first " + Quote(pszName) + " is here");
        }
    }
}

// A value list such as (name X): one atom; more are ignored.
void CChecker::CheckValueList(const CZQANode* pValueList, const char* pszWhere)
{
    if (pValueList && pValueList->GetNumElements() > 2 && !pValueList->GetElement(1)->IsList())
        Report(DiagCode::ExtraElement, pValueList->GetElement(2),
               "extra element in " + Quote(std::string(ListName(pValueList))) + " of " + Quote(pszWhere) +
                   " is ignored; only the first value counts");
}

int32_t CChecker::CheckInteger(const CZQANode* pAtom, const char* pszWhat)
{
    const std::string& s = Text(pAtom);
    const int32_t nPacked = ZQAtoI(s.c_str());
    size_t i = 0;
    while (i < s.size() && IsCSpace(s[i]))
        ++i;
    bool bNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        bNegative = s[i++] == '-';
    const size_t nDigitsStart = i;
    bool bOverflow = false;
    uint64_t nMagnitude = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    {
        nMagnitude = nMagnitude * 10 + static_cast<uint64_t>(s[i] - '0');
        if (nMagnitude > (uint64_t(1) << 32))
            bOverflow = true, nMagnitude = uint64_t(1) << 32;
        ++i;
    }
    if (i == nDigitsStart)
    {
        Report(DiagCode::NotANumber, pAtom,
               Quote(s) + " is not an integer" +
                   Outcome("; the " + std::string(pszWhat) + " is packed as 0"));
        return nPacked;
    }
    const uint64_t nLimit = bNegative ? (uint64_t(1) << 31) : (uint64_t(1) << 31) - 1;
    if (bOverflow || nMagnitude > nLimit)
        Report(DiagCode::IntWrapped, pAtom,
               Quote(s.substr(0, i)) + " does not fit 32 bits; the " + pszWhat + " wraps to " +
                   std::to_string(nPacked));
    size_t nRest = i;
    while (nRest < s.size() && IsCSpace(s[nRest]))
        ++nRest;
    if (nRest < s.size())
        Report(DiagCode::TrailingText, pAtom,
               "text " + Quote(s.substr(i)) + " after the " + pszWhat + " " + std::to_string(nPacked) +
                   " is ignored");
    return nPacked;
}

float CChecker::CheckFloat(const CZQANode* pAtom, const char* pszWhat)
{
    const std::string& s = Text(pAtom);
    const float f = static_cast<float>(ZQAtoF(s.c_str()));
    // Where the number ends: strtod in the "C" locale reads what ZQAtoF reads.
    char* pEnd = nullptr;
    std::strtod(s.c_str(), &pEnd);
    const size_t nUsed = static_cast<size_t>(pEnd - s.c_str());
    if (nUsed == 0)
    {
        Report(DiagCode::NotANumber, pAtom,
               Quote(s) + " is not a number" + Outcome("; the " + std::string(pszWhat) + " is packed as 0"));
        return f;
    }
    if (!std::isfinite(f))
        Report(DiagCode::NotFinite, pAtom,
               Quote(s.substr(0, nUsed)) + " is not finite as a 32-bit float" +
                   Outcome("; the " + std::string(pszWhat) + " is packed as " + FormatFloat(f)));
    size_t nRest = nUsed;
    while (nRest < s.size() && IsCSpace(s[nRest]))
        ++nRest;
    if (nRest < s.size())
        Report(DiagCode::TrailingText, pAtom,
               "text " + Quote(s.substr(nUsed)) + " after the " + pszWhat + " " + FormatFloat(f) +
                   " is ignored");
    return f;
}

void CChecker::CheckString(const CZQANode* pAtom, size_t nMaxChars, const char* pszWhat)
{
    if (Text(pAtom).size() > nMaxChars)
        Report(DiagCode::TextTruncated, pAtom,
               std::string(pszWhat) + " of " + std::to_string(Text(pAtom).size()) + " bytes is cut to " +
                   std::to_string(nMaxChars) + ": " + Quote(Text(pAtom).substr(0, nMaxChars)));
}

const EffectTypeDesc* CChecker::FindType(const CZQANode* pType, const char* pszFor)
{
    const EffectTypeDesc* pTypeDesc = m_Module.FindTypeDesc(Text(pType).c_str());
    if (!pTypeDesc)
        Report(DiagCode::UnknownType, pType,
               "unknown effect type " + Quote(Text(pType)) + " for " + pszFor +
                   DidYouMean(Text(pType), m_typeNames));
    return pTypeDesc;
}

void CChecker::Run(const CZQANode& root)
{
    // The root: the lists the loader looks up; other top-level items are ignored.
    std::map<std::string, const CZQANode*> seen;
    const CZQANode* pBefore = nullptr;
    for (uint32_t i = 0; i < root.GetNumElements(); ++i)
    {
        const CZQANode* pElement = root.GetElement(i);
        const char* pszName = ListName(pElement);
        bool bKnown = false;
        for (const std::string& sList : kRootListNames)
            bKnown = bKnown || (pszName && sList == pszName);
        if (bKnown)
            pBefore = pElement;
        else
        {
            if (pElement->IsList())
                ReportIgnored(pElement, nullptr, "the file", kRootListNames, pBefore);
            else
                Report(DiagCode::IgnoredList, pElement,
                       Quote(Text(pElement)) + " outside any list is ignored");
            continue;
        }
        const auto inserted = seen.emplace(pszName, pElement);
        if (!inserted.second)
        {
            Diagnostic& diag = Report(DiagCode::DuplicateList, pElement,
                                      "second " + Quote(pszName) + " list is ignored; only the first counts");
            Note(diag, inserted.first->second, "the first " + Quote(pszName) + " is here");
        }
    }

    const CZQANode* pHeader = FindList(&root, "header");
    if (!pHeader)
        Report(DiagCode::BadVersion, (root.GetNumElements() == 0) ? nullptr : root.GetElement(0),
               "no 'header' list; the packer needs (header (version 1))");
    else
    {
        m_shapes.push_back(&kHeader);
        CheckRecord(pHeader, kHeader);
        m_shapes.pop_back();
        const CZQANode* pVersion = FindValue(pHeader, "version");
        if (!pVersion)
            Report(DiagCode::BadVersion, pHeader,
                   "header has " + Missing(pHeader, "version") + "; it must be 1");
        else
        {
            CheckValueList(FindList(pHeader, "version"), "header");
            const int32_t nVersion = CheckInteger(pVersion, "version");
            if (nVersion != 1)
                Report(DiagCode::BadVersion, pVersion,
                       "file version " + Quote(Text(pVersion)) + " is not supported; it must be 1");
        }
    }

    if (const CZQANode* pPrefabTree = FindList(&root, "prefab-tree"))
        CheckTree(pPrefabTree, true);
    const CZQANode* pEffectTree = FindList(&root, "effect-tree");
    if (!pEffectTree)
    {
        Diagnostic& diag =
            Report(DiagCode::NoEffectTree, (root.GetNumElements() == 0) ? nullptr : root.GetElement(0),
                   "no 'effect-tree' list in the file");
        (void)diag;
    }
    else
        CheckTree(pEffectTree, false);

    ReportSurplusParens();

    // Keys find the first prefab of a name (ignoring case): a later one of the same name is unreachable.
    std::map<std::string, const Prefab*> first;
    for (const Prefab& prefab : m_prefabs)
    {
        std::string sKey = prefab.sName;
        for (char& c : sKey)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        const Prefab* pShadow = first.emplace(sKey, &prefab).first->second;
        if (pShadow == &prefab)
            pShadow = nullptr;
        if (prefab.bUsed)
            continue;
        Diagnostic& diag = Report(DiagCode::UnusedPrefab, prefab.pNode,
                                  "prefab " + Quote(prefab.sName) + " is not used by any key" +
                                      (pShadow ? "; keys find the earlier prefab of the same name" : ""));
        if (pShadow)
            Note(diag, pShadow->pNode, "the earlier prefab is here");
    }
}

void CChecker::CheckTree(const CZQANode* pTree, bool bPrefabs)
{
    m_bPrefabs = bPrefabs;
    const char* pszTree = bPrefabs ? "prefab-tree" : "effect-tree";
    const CZQANode* pBefore = nullptr;
    for (size_t i = 1; i < pTree->GetNumElements(); ++i)
    {
        const CZQANode* pNode = pTree->GetElement(static_cast<uint32_t>(i));
        if (CheckTreeNode(pNode, pTree, bPrefabs, pszTree, pBefore))
            pBefore = pNode;
    }
}

bool CChecker::CheckTreeNode(const CZQANode* pNode, const CZQANode* pHolder, bool bPrefabs,
                             const char* pszWhere, const CZQANode* pBefore)
{
    const char* pszLeaf = bPrefabs ? "prefab" : "effect";
    const std::vector<std::string> expected = {"container", pszLeaf};
    if (IsNamed(pNode, "container"))
    {
        m_shapes.push_back(&kContainer);
        CheckRecord(pNode, kContainer);
        const CZQANode* pName = FindValue(pNode, "name");
        if (!pName)
            Report(DiagCode::ContainerNoName, pNode, "container has " + Missing(pNode, "name"));
        else
            CheckValueList(FindList(pNode, "name"), "container");
        if (const CZQANode* pChildren = FindList(pNode, "children"))
        {
            const CZQANode* pChildBefore = nullptr;
            for (size_t i = 1; i < pChildren->GetNumElements(); ++i)
            {
                const CZQANode* pChild = pChildren->GetElement(static_cast<uint32_t>(i));
                if (CheckTreeNode(pChild, pChildren, bPrefabs, "children", pChildBefore))
                    pChildBefore = pChild;
            }
        }
        m_shapes.pop_back();
        return true;
    }
    if (IsNamed(pNode, pszLeaf))
    {
        if (bPrefabs)
            CheckPrefab(pNode);
        else
            CheckEffect(pNode);
        return true;
    }
    if (IsNamed(pNode, bPrefabs ? "effect" : "prefab"))
    {
        ReportIgnored(pNode, pHolder, pszWhere, expected, pBefore,
                      bPrefabs ? "; effects belong in the effect tree"
                               : "; prefabs belong in the prefab tree");
        return false;
    }
    ReportIgnored(pNode, pHolder, pszWhere, expected, pBefore);
    return false;
}

void CChecker::CheckPrefab(const CZQANode* pNode)
{
    m_shapes.push_back(&kPrefab);
    CheckRecord(pNode, kPrefab);
    const CZQANode* pName = FindValue(pNode, "name");
    const CZQANode* pType = FindValue(pNode, "type");
    if (!pName || !pType)
    {
        Report(DiagCode::MissingValue, pNode,
               "prefab has " + (!pName ? Missing(pNode, "name") : Missing(pNode, "type")) +
                   (!pName && !pType ? " and " + Missing(pNode, "type") : std::string()));
        m_shapes.pop_back();
        return;
    }
    CheckValueList(FindList(pNode, "name"), "prefab");
    CheckValueList(FindList(pNode, "type"), "prefab");
    const EffectTypeDesc* pTypeDesc = FindType(pType, ("prefab " + Quote(Text(pName))).c_str());
    if (pTypeDesc)
    {
        Prefab prefab;
        prefab.sName = Text(pName);
        prefab.pTypeDesc = pTypeDesc;
        prefab.pNode = pNode;
        m_prefabs.push_back(prefab);
        CheckProperties(FindList(pNode, "properties"), pTypeDesc);
    }
    m_shapes.pop_back();
}

void CChecker::CheckEffect(const CZQANode* pNode)
{
    m_shapes.push_back(&kEffect);
    CheckRecord(pNode, kEffect);
    const CZQANode* pName = FindValue(pNode, "name");
    const CZQANode* pLength = FindValue(pNode, "length");
    if (!pName || !pLength)
    {
        Report(DiagCode::MissingValue, pNode,
               "effect has " + (!pName ? Missing(pNode, "name") : Missing(pNode, "length")) +
                   (!pName && !pLength ? " and " + Missing(pNode, "length") : std::string()));
        m_shapes.pop_back();
        return;
    }
    CheckValueList(FindList(pNode, "name"), "effect");
    CheckValueList(FindList(pNode, "length"), "effect");
    CheckString(pName, kEffectNameChars, "effect name");
    const std::string_view stored = std::string_view(pName->GetValue()).substr(0, kEffectNameChars);
    const std::string sStored(stored);
    const auto inserted = m_effectNames.emplace(stored, pName);
    if (!inserted.second)
    {
        Diagnostic& diag =
            Report(DiagCode::DuplicateEffect, pName, "another effect is named " + Quote(sStored));
        Note(diag, inserted.first->second, "the first effect of that name is here");
    }
    const int32_t nLength = CheckInteger(pLength, "length");

    std::map<uint32_t, std::unique_ptr<CEffectTrack>> tracks;
    if (const CZQANode* pKeyList = FindList(pNode, "key-list"))
    {
        const CZQANode* pBefore = nullptr;
        for (size_t i = 1; i < pKeyList->GetNumElements(); ++i)
        {
            const CZQANode* pElement = pKeyList->GetElement(static_cast<uint32_t>(i));
            if (IsNamed(pElement, "key"))
            {
                CheckKey(pElement, nLength, tracks);
                pBefore = pElement;
            }
            else
                ReportIgnored(pElement, pKeyList, "key-list", {"key"}, pBefore);
        }
    }
    m_shapes.pop_back();
}

// The prefab a key names: it must exist, and only one of the key's type is inherited from.
void CChecker::CheckKeyParent(const CZQANode* pParent, const EffectTypeDesc* pTypeDesc,
                              const std::string& sKeyName)
{
    if (!pParent)
        return;
    Prefab* pPrefab = nullptr;
    for (Prefab& prefab : m_prefabs)
    {
        if (!pPrefab && ZQStrICmp(prefab.sName.c_str(), Text(pParent).c_str()) == 0)
            pPrefab = &prefab;
    }
    if (!pPrefab)
    {
        std::vector<std::string> names;
        for (const Prefab& prefab : m_prefabs)
            names.push_back(prefab.sName);
        Report(DiagCode::UnknownPrefab, pParent,
               "no prefab named " + Quote(Text(pParent)) + " for " + sKeyName +
                   DidYouMean(Text(pParent), names));
    }
    else if (pPrefab->pTypeDesc != pTypeDesc)
    {
        Diagnostic& diag = Report(DiagCode::PrefabTypeMismatch, pParent,
                                  "prefab " + Quote(pPrefab->sName) + " is of type " +
                                      Quote(FixedName(pPrefab->pTypeDesc->szName, 128)) + " but " + sKeyName +
                                      " is of type " + Quote(FixedName(pTypeDesc->szName, 128)) +
                                      "; the key does not inherit from it and takes the module's defaults");
        Note(diag, pPrefab->pNode, "the prefab is here");
    }
    // A prefab a key names is needed even where the key does not inherit from it: without it the
    // key does not load.
    if (pPrefab)
        pPrefab->bUsed = true;
}

void CChecker::CheckKey(const CZQANode* pNode, int32_t nLength,
                        std::map<uint32_t, std::unique_ptr<CEffectTrack>>& tracks)
{
    m_shapes.push_back(&kKey);
    CheckRecord(pNode, kKey);
    std::string sMissing;
    for (uint32_t i = 0; i < kKeyLists.nRequired; ++i)
    {
        if (!FindValue(pNode, kKeyLists.apszLists[i]))
            sMissing += (sMissing.empty() ? "" : ", ") + Missing(pNode, kKeyLists.apszLists[i]);
    }
    const CZQANode* pName = FindValue(pNode, "name");
    const std::string sKeyName = pName ? "key " + Quote(Text(pName)) : std::string("key");
    for (const std::string& sValue : kKey.lists)
    {
        if (sValue != "motion-link" && sValue != "properties")
            CheckValueList(FindList(pNode, sValue.c_str()), "key");
    }
    if (!sMissing.empty())
    {
        Report(DiagCode::MissingValue, pNode, sKeyName + " has " + sMissing);
        m_shapes.pop_back();
        return;
    }
    const EffectTypeDesc* pTypeDesc = FindType(FindValue(pNode, "type"), sKeyName.c_str());
    if (!pTypeDesc)
    {
        m_shapes.pop_back();
        return;
    }
    CheckKeyParent(FindValue(pNode, "parent"), pTypeDesc, sKeyName);

    std::unique_ptr<CEffectKey> pKey(new CEffectKey(&kTimesOnly));
    pKey->m_nID = CheckInteger(FindValue(pNode, "id"), "id");
    const CZQANode* pTrack = FindValue(pNode, "track");
    pKey->m_nTrack = static_cast<uint32_t>(CheckInteger(pTrack, "track"));
    const CZQANode* pStart = FindValue(pNode, "start-time");
    const CZQANode* pEnd = FindValue(pNode, "end-time");
    pKey->m_nStartTime = CheckInteger(pStart, "start time");
    pKey->m_nEndTime = CheckInteger(pEnd, "end time");
    if (const CZQANode* pMotionLink = FindList(pNode, "motion-link"))
    {
        m_shapes.push_back(&kMotionLink);
        CheckRecord(pMotionLink, kMotionLink);
        m_shapes.pop_back();
        if (const CZQANode* pLinkID = FindValue(pMotionLink, "id"))
        {
            CheckValueList(FindList(pMotionLink, "id"), "motion-link");
            CheckInteger(pLinkID, "motion link id");
        }
        else
            Report(DiagCode::IgnoredList, pMotionLink,
                   "motion-link has " + Missing(pMotionLink, "id") +
                       "; the key is packed without a motion link");
    }
    CheckProperties(FindList(pNode, "properties"), pTypeDesc);

    if (pKey->m_nTrack >= kMaxTracks)
    {
        Report(DiagCode::TrackTooLarge, pTrack,
               "track " + Quote(Text(pTrack)) + " of " + sKeyName + " is beyond the last track (65535)");
        m_shapes.pop_back();
        return;
    }
    if (pKey->m_nStartTime > pKey->m_nEndTime)
        Report(DiagCode::TimeOrder, pStart,
               sKeyName + " starts at " + std::to_string(pKey->m_nStartTime) + " ms, after its end at " +
                   std::to_string(pKey->m_nEndTime) + " ms");
    if (pKey->m_nStartTime < 0 || pKey->m_nEndTime > nLength)
        Report(DiagCode::KeyOutsideEffect, pKey->m_nStartTime < 0 ? pStart : pEnd,
               sKeyName + " (" + std::to_string(pKey->m_nStartTime) + " to " +
                   std::to_string(pKey->m_nEndTime) + " ms) reaches outside the effect's length of " +
                   std::to_string(nLength) + " ms");

    // The track fit of the packer's own track, on a copy of the track's keys.
    std::unique_ptr<CEffectTrack>& rpTrack = tracks[pKey->m_nTrack];
    if (!rpTrack)
        rpTrack.reset(new CEffectTrack());
    const int32_t nStart = pKey->m_nStartTime, nEnd = pKey->m_nEndTime;
    // The track takes the key when it fits it in.
    const CEffectKey* pPlaced = rpTrack->AddKey(pKey.get()) ? pKey.release() : nullptr;
    if (pPlaced && (pPlaced->m_nStartTime != nStart || pPlaced->m_nEndTime != nEnd))
    {
        std::string sMoved;
        if (pPlaced->m_nStartTime != nStart)
            sMoved = "start " + std::to_string(nStart) + " becomes " + std::to_string(pPlaced->m_nStartTime);
        if (pPlaced->m_nEndTime != nEnd)
            sMoved += (sMoved.empty() ? "end " : ", end ") + std::to_string(nEnd) + " becomes " +
                      std::to_string(pPlaced->m_nEndTime);
        Report(DiagCode::KeyMoved, pPlaced->m_nStartTime != nStart ? pStart : pEnd,
               sKeyName + " overlaps its neighbours on track " + std::to_string(pPlaced->m_nTrack) + ": " +
                   sMoved);
    }
    m_shapes.pop_back();
}

void CChecker::CheckProperties(const CZQANode* pProperties, const EffectTypeDesc* pTypeDesc)
{
    if (!pProperties)
        return;
    const CZQANode* pBefore = nullptr;
    for (size_t i = 1; i < pProperties->GetNumElements(); ++i)
    {
        const CZQANode* pElement = pProperties->GetElement(static_cast<uint32_t>(i));
        if (IsNamed(pElement, "property"))
        {
            CheckProperty(pElement, pTypeDesc);
            pBefore = pElement;
        }
        else
            ReportIgnored(pElement, pProperties, "properties", {"property"}, pBefore);
    }
}

namespace
{
// How many of the atoms a type needs lead a data list, as the loader counts them.
uint32_t LeadingAtoms(const CZQANode* pData, uint32_t nNeeded)
{
    uint32_t nAtoms = 0;
    while (nAtoms < nNeeded && nAtoms + 1 < pData->GetNumElements() &&
           !pData->GetElement(static_cast<uint32_t>(nAtoms + 1))->IsList())
        ++nAtoms;
    return nAtoms;
}
} // namespace

// The values a property that is not a function curve reads and then drops: all but the earliest
// (the first of equal times). None when a time is NaN: the order kept is then the sort's own.
std::unordered_set<const CZQANode*> CChecker::DroppedValues(const CZQANode* pValueList,
                                                            uint32_t eFileType) const
{
    std::unordered_set<const CZQANode*> dropped;
    const CZQANode* pKept = nullptr;
    float fKept = 0.0f;
    for (size_t i = 1; pValueList && i < pValueList->GetNumElements(); ++i)
    {
        const CZQANode* pValue = pValueList->GetElement(static_cast<uint32_t>(i));
        const CZQANode* pTime = IsNamed(pValue, "value") ? FindValue(pValue, "time") : nullptr;
        const CZQANode* pData = pTime ? FindList(pValue, "data") : nullptr;
        if (!pData || LeadingAtoms(pData, AtomsForType(eFileType)) < AtomsForType(eFileType))
            continue;
        const float fTime = static_cast<float>(ZQAtoF(Text(pTime).c_str()));
        if (std::isnan(fTime))
            return {};
        if (pKept && !(fTime < fKept))
            dropped.insert(pValue);
        else
        {
            if (pKept)
                dropped.insert(pKept);
            pKept = pValue;
            fKept = fTime;
        }
    }
    return dropped;
}

bool CChecker::LoadValue(const CZQANode* pData, uint32_t eFileType, EffectPropertyKey& key)
{
    const uint32_t nNeeded = AtomsForType(eFileType);
    const uint32_t nAtoms = LeadingAtoms(pData, nNeeded);
    if (nAtoms < nNeeded)
    {
        const char* pszKind = eFileType == ePT_Int      ? "integer"
                              : eFileType == ePT_Color  ? "integers"
                              : eFileType == ePT_Float  ? "number"
                              : eFileType == ePT_Vector ? "numbers"
                                                        : "text";
        Report(DiagCode::ValueSkipped, pData,
               "'data' of a " + std::string(TypeName(eFileType)) + " needs " + std::to_string(nNeeded) + " " +
                   pszKind +
                   (nAtoms + 1 < pData->GetNumElements() ? ", found a list"
                                                         : ", found " + std::to_string(nAtoms)) +
                   "; the value is skipped");
        return false;
    }
    if (pData->GetNumElements() > nNeeded + 1)
        Report(DiagCode::ExtraElement, pData->GetElement(static_cast<uint32_t>(nNeeded + 1)),
               "extra element in 'data' of a " + std::string(TypeName(eFileType)) + " is ignored");
    const CZQANode* ppAtoms[4] = {};
    for (uint32_t i = 0; i < nNeeded; ++i)
        ppAtoms[i] = pData->GetElement(i + 1);
    EffectPropValue& value = key.Value;
    switch (eFileType)
    {
    case ePT_Int:
        value.nValue = CheckInteger(ppAtoms[0], "value");
        break;
    case ePT_Float:
        value.fValue = CheckFloat(ppAtoms[0], "value");
        break;
    case ePT_Vector:
        for (int i = 0; i < 3; ++i)
            value.vValue[i] = CheckFloat(ppAtoms[i], "component");
        break;
    case ePT_Color:
    {
        static const char* const kChannels[] = {"red", "green", "blue", "alpha"};
        int32_t anChannels[4];
        for (int i = 0; i < 4; ++i)
            anChannels[i] = CheckInteger(ppAtoms[i], "channel");
        value.nColor = PackColor(anChannels[0], anChannels[1], anChannels[2], anChannels[3]);
        const int anShift[4] = {16, 8, 0, 24};
        for (int i = 0; i < 4; ++i)
        {
            const uint32_t nPacked = (value.nColor >> anShift[i]) & 0xFFu;
            if (static_cast<int64_t>(nPacked) != anChannels[i])
                Report(DiagCode::ColorWrapped, ppAtoms[i],
                       std::string(kChannels[i]) + " channel " + std::to_string(anChannels[i]) +
                           " is outside 0 to 255" + Outcome("; it is packed as " + std::to_string(nPacked)));
        }
        break;
    }
    default:
        CheckString(ppAtoms[0], kStringValueChars, "string value");
        ZQStrCpy(value.szValue, Text(ppAtoms[0]).substr(0, kStringValueChars).c_str(), sizeof(value.szValue));
        break;
    }
    return true;
}

void CChecker::CheckProperty(const CZQANode* pNode, const EffectTypeDesc* pTypeDesc)
{
    m_shapes.push_back(&kProperty);
    CheckRecord(pNode, kProperty);
    const CZQANode* pName = FindValue(pNode, "name");
    const CZQANode* pType = FindValue(pNode, "type");
    if (!pName || !pType)
    {
        Report(DiagCode::MissingValue, pNode,
               "property has " + (!pName ? Missing(pNode, "name") : Missing(pNode, "type")) +
                   (!pName && !pType ? " and " + Missing(pNode, "type") : std::string()));
        m_shapes.pop_back();
        return;
    }
    CheckValueList(FindList(pNode, "name"), "property");
    CheckValueList(FindList(pNode, "type"), "property");
    const std::string sTypeName = FixedName(pTypeDesc->szName, sizeof(pTypeDesc->szName));
    uint32_t eFileType = ePT_None;
    if (!TypeFromName(pType->GetValue(), eFileType))
    {
        std::vector<std::string> names;
        for (const EffectTypeName& entry : kEffectTypeNames)
            names.push_back(entry.pszName);
        Report(DiagCode::UnknownPropertyType, pType,
               "unknown property type " + Quote(Text(pType)) + "; the property " + Quote(Text(pName)) +
                   " is skipped" + DidYouMean(Text(pType), names));
        m_shapes.pop_back();
        return;
    }
    const EffectPropDesc* pDesc = nullptr;
    std::vector<std::string> propNames;
    for (uint32_t i = 0; pTypeDesc->pProps && i < pTypeDesc->nNumProps; ++i)
    {
        const EffectPropDesc& desc = pTypeDesc->pProps[i];
        propNames.push_back(FixedName(desc.szName, sizeof(desc.szName)));
        if (!pDesc && ZQStrICmp(propNames.back().c_str(), Text(pName).c_str()) == 0)
            pDesc = &desc;
    }
    if (!pDesc)
    {
        Report(DiagCode::UnknownProperty, pName,
               Quote(sTypeName) + " has no property " + Quote(Text(pName)) + "; it is skipped" +
                   DidYouMean(Text(pName), propNames));
        m_shapes.pop_back();
        return;
    }
    const std::string sProp = Quote(FixedName(pDesc->szName, sizeof(pDesc->szName)));
    const bool bWritable = pDesc->eType != ePT_None && pDesc->eType != ePT_NoValue;
    if (!bWritable)
        Report(DiagCode::ValueNotPacked, pType,
               "property " + sProp + " carries no value; what is written for it is not packed");
    const bool bMismatch = bWritable && pDesc->eType != eFileType;
    bool bMismatchReported = false;

    const CZQANode* pValueList = FindList(pNode, "value-list");
    std::vector<LoadedValue> loaded;
    const std::unordered_set<const CZQANode*> dropped = bWritable && !pDesc->m_bFunctionCurve
                                                            ? DroppedValues(pValueList, eFileType)
                                                            : std::unordered_set<const CZQANode*>();
    if (pValueList)
    {
        const CZQANode* pBefore = nullptr;
        for (size_t i = 1; i < pValueList->GetNumElements(); ++i)
        {
            const CZQANode* pValue = pValueList->GetElement(static_cast<uint32_t>(i));
            if (!IsNamed(pValue, "value"))
            {
                ReportIgnored(pValue, pValueList, "value-list", {"value"}, pBefore);
                continue;
            }
            pBefore = pValue;
            m_shapes.push_back(&kValue);
            CheckRecord(pValue, kValue);
            m_shapes.pop_back();
            m_pDroppedFrom = dropped.count(pValue) ? &sProp : nullptr;
            const CZQANode* pTime = FindValue(pValue, "time");
            const CZQANode* pData = FindList(pValue, "data");
            if (!pTime || !pData)
            {
                Report(DiagCode::ValueSkipped, pValue,
                       "value has " + (!pTime ? Missing(pValue, "time") : std::string("no 'data'")) +
                           (!pTime && !pData ? " and no 'data'" : "") + "; it is skipped");
                continue;
            }
            CheckValueList(FindList(pValue, "time"), "value");
            EffectPropertyKey key;
            std::memset(&key, 0, sizeof(key));
            key.fTime = CheckFloat(pTime, "time");
            if (!LoadValue(pData, eFileType, key))
                continue;
            if (!bWritable)
                continue;
            // The bytes named are those of a value that is packed.
            if (bMismatch && !bMismatchReported && !m_pDroppedFrom)
            {
                bMismatchReported = true;
                Report(DiagCode::TypeMismatch, pType,
                       "property " + sProp + " is " + Article(TypeName(pDesc->eType)) + ", not " +
                           Article(TypeName(eFileType)) + "; the value is read as " + TypeName(eFileType) +
                           " and its bytes packed as " + TypeName(pDesc->eType) + ": " +
                           FormatValue(key.Value, pDesc->eType));
            }
            // What normalisation does to the value: the packer's own property code decides.
            // Compared as the property keeps values (its type's own view of them).
            CEffectProperty prop(pDesc);
            prop.AddKey(key);
            const std::optional<EffectPropertyKey> pBefore = prop.GetKey(0);
            prop.ClampToRange();
            const std::optional<EffectPropertyKey> pAfter = prop.GetKey(0);
            if (pAfter && pBefore && std::memcmp(&pAfter->Value, &pBefore->Value, sizeof(key.Value)) != 0)
                Report(DiagCode::ValueClamped, pData->GetNumElements() > 1 ? pData->GetElement(1) : pData,
                       FormatValue(key.Value, pDesc->eType) + " is outside the range " +
                           Quote(FixedName(pDesc->szParams, sizeof(pDesc->szParams))) + " of " + sProp +
                           Outcome("; it is packed as " + FormatValue(pAfter->Value, pDesc->eType)));
            if (pDesc->eType == ePT_Enum)
                CheckEnumChoice(pData, *pDesc, sProp, key.Value);
            loaded.push_back({key.fTime, pValue, pTime});
        }
        m_pDroppedFrom = nullptr;
    }
    if (bWritable)
        CheckKeptValues(loaded, *pDesc, sProp);
    m_shapes.pop_back();
}

// An Enum value that is none of the choices: the packer writes the default instead.
void CChecker::CheckEnumChoice(const CZQANode* pData, const EffectPropDesc& desc, const std::string& sProp,
                               const EffectPropValue& value)
{
    if (FindEnumIndex(desc.szParams, FixedName(value.szValue, sizeof(value.szValue)).c_str()) < 0)
    {
        const std::string sParams = FixedName(desc.szParams, sizeof(desc.szParams));
        const std::vector<std::string> choices = EnumChoiceList(sParams);
        const std::string sText = FixedName(value.szValue, sizeof(value.szValue));
        Report(DiagCode::EnumInvalid, pData->GetElement(1),
               Quote(sText) + " is not a choice of " + sProp + " (" + Printable(sParams) + ")" +
                   Outcome("; the default " + FormatValue(desc.DefaultValue, ePT_Enum) + " is packed") +
                   DidYouMean(sText, choices));
    }
}

// Which of the loaded values the property keeps, and where a curve's ends move to.
void CChecker::CheckKeptValues(std::vector<LoadedValue>& loaded, const EffectPropDesc& desc,
                               const std::string& sProp)
{
    // The order the property keeps its values in: by time, equal times in file order. NaN times
    // make that order the insertion sort's own, which this does not follow: no finding then.
    bool bOrdered = !loaded.empty();
    for (const LoadedValue& entry : loaded)
        bOrdered = bOrdered && !std::isnan(entry.fTime);
    if (bOrdered)
    {
        std::stable_sort(loaded.begin(), loaded.end(),
                         [](const LoadedValue& a, const LoadedValue& b) { return a.fTime < b.fTime; });
        if (!desc.m_bFunctionCurve)
        {
            for (size_t i = 1; i < loaded.size(); ++i)
            {
                Diagnostic& diag =
                    Report(DiagCode::ValueDropped, loaded[i].pValue,
                           sProp + " is not a function curve: only its earliest value is packed");
                Note(diag, loaded[0].pValue, "the value packed is here");
            }
        }
        else
        {
            if (loaded.front().fTime != 0.0f)
                Report(DiagCode::CurveTimeMoved, loaded.front().pTime,
                       "the first value of the curve " + sProp + " is at time " +
                           FormatFloat(loaded.front().fTime) + "; it is packed at time 0");
            if (desc.m_bCurveEndKey && loaded.size() > 1 && loaded.back().fTime != 1.0f)
                Report(DiagCode::CurveTimeMoved, loaded.back().pTime,
                       "the last value of the curve " + sProp + " is at time " +
                           FormatFloat(loaded.back().fTime) + "; it is packed at time 1");
        }
    }
}

} // namespace

void CheckEffectSource(const std::string& sFile, const CSourceText& text, const CEffectModule& module,
                       std::vector<Diagnostic>& diags, CFindingBudget* pBudget)
{
    CChecker checker(sFile, text, module, diags, pBudget);
    checker.Run(text.Root());
}
