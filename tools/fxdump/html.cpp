// One self-contained page (inline CSS and SVG, no script, nothing fetched): a legend and an index
// of the effects, then per effect a collapsed section with a timeline of its keys (one bar each)
// and each key's properties, curves drawn as small plots with their axes and colour curves as
// gradients over a checkerboard. The timelines and tables take the window's width.
#include "fxdump.h"

#include "pyrixmodule.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

constexpr double kRowHeight = 20.0; // one timeline row per key
// A plot: the curve's area, with the value labels to its left and the times below it.
constexpr double kPlotWidth = 320.0, kPlotHeight = 76.0;
constexpr double kPlotLeft = 56.0, kPlotRight = 10.0, kPlotTop = 8.0, kPlotBottom = 18.0;
constexpr double kAreaWidth = kPlotWidth - kPlotLeft - kPlotRight;
constexpr double kAreaHeight = kPlotHeight - kPlotTop - kPlotBottom;
constexpr double kBandHeight = 22.0, kOpaqueHeight = 8.0; // a gradient: as is, then opaque
const char* const kComponentColours[] = {"#c0392b", "#27ae60", "#2e6fd0", "#8e44ad"};

const char* const kStyle =
    R"(body{font:14px/1.4 system-ui,sans-serif;margin:1em 1.5em;color:#222;background:#fff}
h1{font-size:1.4em;margin:.2em 0}h2{font-size:1.15em;margin-top:1.2em}h3{font-size:1em;margin:1em 0 .3em}
nav ol{columns:4 14em;padding-left:1.5em}
.legend{font-size:.9em;color:#444;border-left:3px solid #ccc;padding:.2em .8em;margin:.6em 0}
.legend svg{vertical-align:middle;margin:0 .2em}
details.effect{border:1px solid #ccc;border-radius:4px;margin:.5em 0;padding:.3em .8em}
details.effect>summary{cursor:pointer;font-weight:600}
svg.timeline{display:block;width:100%;margin:.6em 0;background:#fafafa;border:1px solid #e4e4e4}
svg .bar{fill:#4a78c2;stroke:#2c4f8a}svg.timeline text{font-size:11px;fill:#111}
svg .axis{stroke:#ccc}svg .tick,svg.plot text{font-size:10px;fill:#666}
table.props{border-collapse:collapse;width:100%;table-layout:fixed}
table.props td,table.props th{padding:2px 8px;text-align:left;vertical-align:middle;border-bottom:1px solid #eee;
overflow-wrap:anywhere}table.props th{width:11em;font-weight:500;color:#444}table.props td.type{width:6em}
.type{color:#888;font-size:.85em}.swatch{display:inline-block;width:2.4em;height:1.2em;border:1px solid #999;
vertical-align:middle;margin-right:.4em}.swatch>span{display:block;height:100%}
.checker{background-color:#fff;background-image:linear-gradient(45deg,#ccc 25%,transparent 25%,transparent 75%,
#ccc 75%),linear-gradient(45deg,#ccc 25%,transparent 25%,transparent 75%,#ccc 75%);background-size:10px 10px;
background-position:0 0,5px 5px}
svg.plot{background:#fff;vertical-align:middle}svg.plot .area{fill:#f6f6f6;stroke:#e0e0e0}
svg.plot polyline{fill:none;stroke-width:1.5}.points{font-size:.85em;color:#555}.problem{color:#a00}
)";

// Text for HTML: escaped for a terminal first (no control bytes), then for markup.
std::string Html(const std::string& s)
{
    std::string sOut;
    for (char c : Printable(s))
        switch (c)
        {
        case '&':
            sOut += "&amp;";
            break;
        case '<':
            sOut += "&lt;";
            break;
        case '>':
            sOut += "&gt;";
            break;
        case '"':
            sOut += "&quot;";
            break;
        case '\'':
            sOut += "&#39;";
            break;
        default:
            sOut += c;
        }
    return sOut;
}

double Clamp01(double d)
{
    return std::min(std::max(d, 0.0), 1.0);
}

// A number of a plot: non-finite floats and values that are no numbers stand at 0.
double Finite(double d)
{
    return std::isfinite(d) ? d : 0.0;
}

// A number on an axis: short, as people read scales.
std::string AxisNumber(double d)
{
    return Format("%.4g", d == 0.0 ? 0.0 : d);
}

// A colour value as a CSS colour, when its channels are finite floats; bOpaque drops the alpha.
bool CssColor(const PackedValue& value, std::string& sCss, bool bOpaque = false)
{
    if (value.eKind != PackedValue::COLOR)
        return false;
    int n[4];
    for (size_t i = 0; i < 4; ++i)
    {
        if (!std::isfinite(value.afFloats[i]))
            return false;
        n[i] = static_cast<int>(std::lround(Clamp01(static_cast<double>(value.afFloats[i])) * 255.0));
    }
    sCss = bOpaque ? Format("rgb(%d,%d,%d)", n[0], n[1], n[2])
                   : Format("rgba(%d,%d,%d,%.3f)", n[0], n[1], n[2], n[3] / 255.0);
    return true;
}

// The key's times in milliseconds, where the file holds finite ones.
struct KeyTimes
{
    bool bKnown = false;
    double dStart = 0, dEnd = 0;
};

KeyTimes TimesOf(const CPackedEffectReader::Key& key)
{
    KeyTimes times;
    times.bKnown = std::isfinite(key.fStartTime) && std::isfinite(key.fEndTime);
    if (times.bKnown)
    {
        times.dStart = static_cast<double>(key.fStartTime) * 1000.0;
        times.dEnd = static_cast<double>(key.fEndTime) * 1000.0;
    }
    return times;
}

// The time axis under a plot's area: the key's start and end (the curve runs over the key's
// life, 0 to 1), or the normalised times where the key's are not known.
std::string TimeAxis(const KeyTimes& times, double y)
{
    const auto label = [&times](double t)
    {
        return times.bKnown ? Format("%g ms", std::round(times.dStart + (times.dEnd - times.dStart) * t))
                            : AxisNumber(t);
    };
    std::string s;
    for (double t : {0.0, 0.5, 1.0})
    {
        const double x = kPlotLeft + kAreaWidth * t;
        s += Format("<line class=\"axis\" x1=\"%.1f\" y1=\"%g\" x2=\"%.1f\" y2=\"%g\"/>", x, y, x, y + 3) +
             Format("<text x=\"%.1f\" y=\"%g\" text-anchor=\"%s\">", x, y + 13,
                    t == 0.0   ? "start"
                    : t == 1.0 ? "end"
                               : "middle") +
             Html(label(t)) + "</text>";
    }
    return s;
}

class CPage
{
public:
    CPage(const CModuleView& module, std::FILE* pOut) : m_Module(module), m_pOut(pOut) {}

    void Effect(const CPackedEffectReader& reader, const CPackedEffectReader::Effect& effect, size_t nId,
                bool bOpen)
    {
        m_pReader = &reader;
        const size_t nKeys = effect.keys.size();
        std::string s =
            Format("<details class=\"effect\" id=\"e%zu\"%s><summary>", nId, bOpen ? " open" : "") +
            Html(NameOf(reader, effect.nNameOffset)) +
            Format(" <span class=\"type\">%d ms, %zu key%s</span></summary>\n",
                   static_cast<int32_t>(effect.nLength), nKeys, nKeys == 1 ? "" : "s");
        s += Timeline(effect);
        for (const CPackedEffectReader::Key& key : effect.keys)
        {
            const KeyTimes times = TimesOf(key);
            s += "<h3>" + Html(KeyLabel(key)) +
                 Format(" <span class=\"type\">%g to %g ms</span></h3>\n<table class=\"props\">\n",
                        static_cast<double>(key.fStartTime) * 1000.0,
                        static_cast<double>(key.fEndTime) * 1000.0);
            for (const CPackedEffectReader::Property& prop : key.props)
                s += Property(key, prop, times);
            s += "</table>\n";
        }
        std::fputs((s + "</details>\n").c_str(), m_pOut);
    }

    static std::string NameOf(const CPackedEffectReader& reader, uint32_t nTableOffset)
    {
        std::string sName;
        return reader.GetString(nTableOffset, sName) ? sName : std::string("<bad name offset>");
    }

    // What the marks mean, each drawn as the page draws it.
    static std::string Legend()
    {
        std::string s =
            "<p class=\"legend\"><svg width=\"36\" height=\"14\"><rect class=\"bar sample\" x=\"1\" "
            "y=\"1\" width=\"34\" height=\"12\" rx=\"2\"/></svg> a key from its start to its end, "
            "named by its type and id (packed files keep no key names); "
            "<svg width=\"36\" height=\"14\">";
        for (size_t c = 0; c < 3; ++c)
            s +=
                Format("<polyline stroke=\"%s\" stroke-width=\"1.5\" fill=\"none\" points=\"1,%zu 35,%zu\"/>",
                       kComponentColours[c], 3 + 4 * c, 11 - 4 * c);
        s += "</svg> a curve over its key's life: the key's time in ms along the bottom, the curve's "
             "lowest and highest values at the bottom and the top, a vector's x, y and z in red, green and "
             "blue; <span class=\"swatch checker\"><span style=\"background:rgba(74,120,194,0.4)\"></span>"
             "</span>a colour over a checkerboard, which shows through where it is transparent (colour "
             "curves show the colour without its alpha in a band below).</p>\n";
        return s;
    }

private:
    std::string KeyLabel(const CPackedEffectReader::Key& key) const
    {
        const std::string sType = m_Module.IsLoaded() ? m_Module.GetTypeName(key.nTypeID) : std::string();
        return (sType.empty() ? "type " + std::to_string(key.nTypeID) : sType) + " " +
               std::to_string(key.nID);
    }

    // One row per key: a bar from its start to its end on an axis in milliseconds. Positions are
    // fractions of the width, so the timeline takes whatever width the window gives it.
    std::string Timeline(const CPackedEffectReader::Effect& effect) const
    {
        double dEnd = std::max(1.0, static_cast<double>(static_cast<int32_t>(effect.nLength)));
        for (const CPackedEffectReader::Key& key : effect.keys)
            if (std::isfinite(key.fEndTime))
                dEnd = std::max(dEnd, static_cast<double>(key.fEndTime) * 1000.0);
        const auto percent = [dEnd](double dMs) { return 1.0 + 98.0 * Clamp01(dMs / dEnd); };
        const double dHeight = kRowHeight * static_cast<double>(effect.keys.size()) + 18.0;
        std::string s = Format("<svg class=\"timeline\" height=\"%g\" role=\"img\">\n", dHeight);
        for (int i = 0; i <= 4; ++i)
        {
            const double x = percent(dEnd * i / 4);
            s += Format(
                "<line class=\"axis\" x1=\"%.2f%%\" y1=\"0\" x2=\"%.2f%%\" y2=\"%g\"/>"
                "<text class=\"tick\" x=\"%.2f%%\" dx=\"%d\" y=\"%g\" text-anchor=\"%s\">%g ms</text>\n",
                x, x, dHeight - 14, x, i == 4 ? -2 : 2, dHeight - 3, i == 4 ? "end" : "start",
                std::round(dEnd * i / 4));
        }
        double y = 2;
        for (const CPackedEffectReader::Key& key : effect.keys)
        {
            const double dStart =
                std::isfinite(key.fStartTime) ? static_cast<double>(key.fStartTime) * 1000.0 : 0.0;
            const double dStop =
                std::isfinite(key.fEndTime) ? static_cast<double>(key.fEndTime) * 1000.0 : dStart;
            const double x0 = percent(dStart), x1 = percent(dStop);
            // A label that would run past the right edge ends at its bar's end instead.
            const bool bRight = x0 > 75.0;
            s += Format("<g class=\"key\"><rect class=\"bar\" x=\"%.2f%%\" y=\"%g\" width=\"%.2f%%\" "
                        "height=\"%g\" rx=\"2\">",
                        x0, y, std::max(x1 - x0, 0.3), kRowHeight - 4) +
                 "<title>" + Html(KeyLabel(key)) + Format(": %g to %g ms</title></rect>", dStart, dStop) +
                 Format("<text x=\"%.2f%%\" dx=\"%d\" y=\"%g\" text-anchor=\"%s\">", bRight ? x1 : x0,
                        bRight ? -4 : 4, y + kRowHeight - 8, bRight ? "end" : "start") +
                 Html(KeyLabel(key)) + "</text></g>\n";
            y += kRowHeight;
        }
        return s + "</svg>\n";
    }

    std::string Property(const CPackedEffectReader::Key& key, const CPackedEffectReader::Property& prop,
                         const KeyTimes& times)
    {
        std::string sName;
        const bool bNamed = m_pReader->GetString(prop.nNameOffset, sName);
        CPackedEffectReader::ValueInfo info;
        const bool bKnown =
            m_Module.IsLoaded() && bNamed && m_Module.Lookup(key.nTypeID, sName.c_str(), info);
        std::string s = "<tr><th>" + Html(bNamed ? sName : "<bad name offset>") + "</th><td class=\"type\">" +
                        Html(bKnown ? TypeName(info.eType) : "") + "</td><td>";
        if (bKnown && info.bFunctionCurve)
        {
            const uint32_t nCurve = m_pReader->ReadU32(prop.nValueOffset);
            std::string sPoints;
            if (!CValueText(*m_pReader, sPoints).Curve(nCurve, info.eType))
                s += Format("no curve record at %u", nCurve);
            else
                s += info.eType == ePT_Color ? Gradient(nCurve, sPoints, times)
                                             : Plot(nCurve, info.eType, sPoints, times);
        }
        else
        {
            const PackedValue value =
                ReadValue(*m_pReader, prop.nValueOffset, prop.nValueSize, bKnown ? &info : nullptr);
            std::string sCss;
            if (CssColor(value, sCss))
                s += "<span class=\"swatch checker\"><span style=\"background:" + sCss + "\"></span></span>";
            s += Html(ValueText(*m_pReader, value));
        }
        return s + "</td></tr>\n";
    }

    // Calls point with the normalised time and the value of each key of a curve that fits.
    void ForEachPoint(uint32_t nCurve, uint32_t eType,
                      const std::function<void(double dTime, const PackedValue& value)>& point) const
    {
        const uint32_t nValueSize = PackedValueSize(eType);
        if (!nValueSize)
            return;
        CPackedEffectReader::ValueInfo info;
        info.eType = eType;
        ForEachCurvePoint(*m_pReader, nCurve, eType,
                          [&](float fTime, uint32_t nValueOffset) {
                              point(Finite(static_cast<double>(fTime)),
                                    ReadValue(*m_pReader, nValueOffset, nValueSize, &info));
                          });
    }

    // Colour curves: a gradient with a stop at each key over a checkerboard, and the same colours
    // opaque in a band below, on the plots' time axis. sPoints: the curve's text.
    std::string Gradient(uint32_t nCurve, const std::string& sPoints, const KeyTimes& times)
    {
        const size_t nId = m_nGradients++;
        std::string sStops, sOpaqueStops;
        ForEachPoint(
            nCurve, ePT_Color,
            [&](double dTime, const PackedValue& value)
            {
                std::string sCss, sOpaque;
                if (!CssColor(value, sCss) || !CssColor(value, sOpaque, true))
                    return;
                sStops += Format("<stop offset=\"%.4f\" stop-color=\"%s\"/>", Clamp01(dTime), sCss.c_str());
                sOpaqueStops +=
                    Format("<stop offset=\"%.4f\" stop-color=\"%s\"/>", Clamp01(dTime), sOpaque.c_str());
            });
        const double dHeight = kPlotTop + kBandHeight + kOpaqueHeight + kPlotBottom;
        std::string s =
            Format("<svg class=\"plot\" width=\"%g\" height=\"%g\"><title>", kPlotWidth, dHeight) +
            Html(sPoints) +
            Format("</title><defs><pattern id=\"c%zu\" width=\"10\" height=\"10\" "
                   "patternUnits=\"userSpaceOnUse\">"
                   "<rect width=\"10\" height=\"10\" fill=\"#fff\"/><rect width=\"5\" height=\"5\" "
                   "fill=\"#ccc\"/>"
                   "<rect x=\"5\" y=\"5\" width=\"5\" height=\"5\" fill=\"#ccc\"/></pattern>"
                   "<linearGradient id=\"g%zu\">",
                   nId, nId) +
            sStops + Format("</linearGradient><linearGradient id=\"o%zu\">", nId) + sOpaqueStops +
            "</linearGradient></defs>";
        s += Format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"url(#c%zu)\"/>", kPlotLeft,
                    kPlotTop, kAreaWidth, kBandHeight, nId);
        s += Format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"url(#g%zu)\"/>", kPlotLeft,
                    kPlotTop, kAreaWidth, kBandHeight, nId);
        s += Format("<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"url(#o%zu)\"/>", kPlotLeft,
                    kPlotTop + kBandHeight, kAreaWidth, kOpaqueHeight, nId);
        s += TimeAxis(times, kPlotTop + kBandHeight + kOpaqueHeight);
        return s + "</svg> <span class=\"points\">" + Html(sPoints) + "</span>";
    }

    // Number curves: one line per component over the key's normalised life, with the lowest and
    // highest value at the bottom and top. A flat curve is drawn against 0, so that curves of
    // different constant values do not look alike. Values that are no numbers stand at 0.
    std::string Plot(uint32_t nCurve, uint32_t eType, const std::string& sPoints, const KeyTimes& times) const
    {
        std::vector<std::vector<double>> lines;
        std::vector<double> times01;
        double dMin = 0, dMax = 0;
        bool bAny = false;
        ForEachPoint(nCurve, eType,
                     [&](double dTime, const PackedValue& value)
                     {
                         double parts[4] = {};
                         size_t nParts = 1;
                         if (value.eKind == PackedValue::FLOATS || value.eKind == PackedValue::COLOR)
                         {
                             nParts = value.nFloats;
                             for (size_t i = 0; i < nParts; ++i)
                                 parts[i] = Finite(static_cast<double>(value.afFloats[i]));
                         }
                         else if (value.eKind == PackedValue::INT)
                             parts[0] = static_cast<int32_t>(value.nWord);
                         if (lines.size() < nParts)
                             lines.resize(nParts);
                         times01.push_back(dTime);
                         for (size_t i = 0; i < nParts; ++i)
                         {
                             lines[i].push_back(parts[i]);
                             dMin = bAny ? std::min(dMin, parts[i]) : parts[i];
                             dMax = bAny ? std::max(dMax, parts[i]) : parts[i];
                             bAny = true;
                         }
                     });
        if (dMax == dMin)
        {
            dMin = std::min(dMin, 0.0);
            dMax = dMax > 0.0 ? dMax : dMin < 0.0 ? 0.0 : 1.0;
        }
        std::string s =
            Format("<svg class=\"plot\" width=\"%g\" height=\"%g\"><title>", kPlotWidth, kPlotHeight) +
            Html(sPoints) + "</title>" +
            Format("<rect class=\"area\" x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\"/>", kPlotLeft, kPlotTop,
                   kAreaWidth, kAreaHeight);
        if (bAny)
            s += Format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">", kPlotLeft - 4, kPlotTop + 7) +
                 Html(AxisNumber(dMax)) +
                 Format("</text><text x=\"%g\" y=\"%g\" text-anchor=\"end\">", kPlotLeft - 4,
                        kPlotTop + kAreaHeight) +
                 Html(AxisNumber(dMin)) + "</text>";
        s += TimeAxis(times, kPlotTop + kAreaHeight);
        const double dSpan = dMax - dMin;
        for (size_t c = 0; c < lines.size(); ++c)
        {
            std::string sLine;
            const auto y = [&](double d) { return kPlotTop + kAreaHeight * (dMax - d) / dSpan; };
            for (size_t i = 0; i < lines[c].size() && i < times01.size(); ++i)
                sLine += Format("%.1f,%.1f ", kPlotLeft + kAreaWidth * Clamp01(times01[i]), y(lines[c][i]));
            // One key holds its value to the end of the key's life.
            if (lines[c].size() == 1)
                sLine += Format("%.1f,%.1f", kPlotLeft + kAreaWidth, y(lines[c][0]));
            s += Format("<polyline stroke=\"%s\" points=\"", kComponentColours[c % 4]) + sLine + "\"/>";
        }
        return s + "</svg> <span class=\"points\">" + Html(sPoints) + "</span>";
    }

    const CPackedEffectReader* m_pReader = nullptr; // of the effect being written
    const CModuleView& m_Module;
    std::FILE* m_pOut;
    size_t m_nGradients = 0; // ids of the page's gradients
};
} // namespace

void WriteHtml(const std::vector<PackedFile*>& files, const CModuleView& module, const EffectFilter& filter,
               std::FILE* pOut)
{
    // The index first: names are read from the file without decoding any value.
    size_t nShown = 0;
    std::string sIndex = "<nav><h2>Index</h2><ol>\n";
    for (const PackedFile* pFile : files)
    {
        CPackedEffectReader::Effect effect;
        for (uint32_t nPos = pFile->reader.GetEffectsStart();
             pFile->bWalked && pFile->reader.NextEffect(nPos, effect);)
        {
            const json name = {{"name", StringJson(pFile->reader, effect.nNameOffset)}};
            if (!filter.Passes(name))
                continue;
            sIndex += Format("<li><a href=\"#e%zu\">", nShown++) +
                      Html(CPage::NameOf(pFile->reader, effect.nNameOffset)) + "</a></li>\n";
        }
    }
    sIndex += "</ol></nav>\n";
    std::fputs(
        ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Packed effects</title>\n"
         "<meta name=\"viewport\" content=\"width=device-width\">\n<style>" +
         std::string(kStyle) + "</style></head><body>\n<h1>Packed effects</h1>\n" +
         Format("<p>%zu effect%s in %zu file%s", nShown, nShown == 1 ? "" : "s", files.size(),
                files.size() == 1 ? "" : "s") +
         (module.IsLoaded() ? "; decoded with " + Html(module.GetPath())
                            : std::string("; values as raw words (no effect module)")) +
         ".</p>\n" + CPage::Legend() + sIndex)
            .c_str(),
        pOut);

    CPage page(module, pOut);
    size_t nId = 0;
    for (PackedFile* pFile : files)
    {
        std::fputs(("<section class=\"file\"><h2>" + Html(pFile->sPath) + "</h2>\n").c_str(), pOut);
        ForEachEffect(*pFile, module,
                      [&](const CPackedEffectReader::Effect& effect)
                      {
                          const json name = {{"name", StringJson(pFile->reader, effect.nNameOffset)}};
                          if (filter.Passes(name))
                              page.Effect(pFile->reader, effect, nId++, nShown == 1);
                      });
        for (const CPackedEffectReader::Problem& problem : pFile->reader.GetProblems())
            std::fputs((Format("<p class=\"problem\">problem at 0x%X: ", problem.nOffset) +
                        Html(problem.sText) + "</p>\n")
                           .c_str(),
                       pOut);
        std::fputs("</section>\n", pOut);
    }
    std::fputs("</body></html>\n", pOut);
}
} // namespace fxdump
