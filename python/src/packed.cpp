#include "packed.h"

namespace embervise
{
Outcome CPackedView::Open(const std::string& sPath, const std::string& sModule)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    Outcome outcome;
    if (!sModule.empty())
    {
        std::lock_guard<std::mutex> engine(EngineLock());
        std::string sError;
        if (!m_Module.Load(sModule, sError))
            return {Failure::Module, sModule, sError};
    }
    std::string sError;
    if (!fxdump::LoadPackedFile(sPath, m_File, sError))
        return {Failure::Format, sPath, sError};
    if (!m_File.bWalked)
    {
        const auto& problems = m_File.reader.GetProblems();
        std::string sWhy = problems.empty() ? std::string("not a packed effect file") : problems[0].sText;
        if (!problems.empty())
            sWhy = fxdump::Format("offset 0x%X: ", problems[0].nOffset) + sWhy;
        return {Failure::Format, sPath, sWhy};
    }
    m_nCheckedEnd = m_File.reader.GetEffectsStart();
    return outcome;
}

std::string CPackedView::HeadJson()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    nlohmann::ordered_json head = fxdump::FileJson(m_File, m_Module);
    nlohmann::ordered_json counts = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < m_File.reader.GetHeader().nNumEffectTypes; ++i)
        counts.push_back(fxdump::KeyCountJson(m_File, m_Module, i));
    head["keyCounts"] = std::move(counts);
    return fxdump::JsonLine(head);
}

uint32_t CPackedView::EffectsStart()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_File.reader.GetEffectsStart();
}

bool CPackedView::NextEffect(uint32_t& nPos, std::string& sJson)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    CPackedEffectReader::Effect effect;
    const uint32_t nStart = nPos;
    if (nStart < m_File.reader.GetEffectsStart() || !m_File.reader.NextEffect(nPos, effect))
        return false;
    if (m_Module.IsLoaded() && nStart == m_nCheckedEnd)
    {
        // Each effect's values are checked once, by the first walk that reaches it.
        m_File.reader.CheckEffectValues(
            effect, [this](uint32_t nTypeID, const char* pszName, CPackedEffectReader::ValueInfo& info)
            { return m_Module.Lookup(nTypeID, pszName, info); });
        m_nCheckedEnd = nPos;
    }
    sJson = fxdump::JsonLine(fxdump::EffectJson(m_File, m_Module, effect));
    return true;
}

std::string CPackedView::Verify()
{
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        if (m_Module.IsLoaded())
        {
            // The whole check starts from a clean list: values checked on the way would repeat.
            fxdump::PackedFile fresh;
            std::string sError;
            if (fxdump::LoadPackedFile(m_File.sPath, fresh, sError) && fresh.bWalked)
            {
                fxdump::CheckWithModule(fresh, m_Module);
                return fxdump::JsonLine(fxdump::ProblemsJson(fresh));
            }
        }
    }
    return ProblemsJson();
}

std::string CPackedView::ProblemsJson()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return fxdump::JsonLine(fxdump::ProblemsJson(m_File));
}
} // namespace embervise
