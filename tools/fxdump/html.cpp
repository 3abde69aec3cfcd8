// One self-contained page (inline CSS and SVG, no script, nothing fetched): an index of the
// effects, then per effect a collapsed section with a timeline of its keys (one bar each) and
// each key's properties, curves drawn as small plots and colour curves as gradients.
#include "fxdump.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

constexpr double kAxisWidth = 640.0; // timeline width in pixels
constexpr double kRowHeight = 20.0;
constexpr double kLabelWidth = 0.0;
constexpr double kPlotWidth = 180.0, kPlotHeight = 40.0;

const char* const kStyle = R"(body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;background:#fff}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.5em}h3{font-size:1em;margin:1em 0 .3em}
nav ol{columns:3 16em;padding-left:1.5em}
details.effect{border:1px solid #ccc;border-radius:4px;margin:.5em 0;padding:.3em .8em}
details.effect>summary{cursor:pointer;font-weight:600}
svg.timeline{display:block;margin:.6em 0;background:#fafafa;border:1px solid #e4e4e4}
svg.timeline .bar{fill:#4a78c2;stroke:#2c4f8a}svg.timeline text{font-size:11px;fill:#111}
svg.timeline .axis{stroke:#bbb}svg.timeline .tick{font-size:10px;fill:#666}
table.props{border-collapse:collapse}table.props td,table.props th{padding:2px 8px;text-align:left;
vertical-align:middle;border-bottom:1px solid #eee}th{font-weight:500;color:#444}
.type{color:#888;font-size:.85em}.swatch{display:inline-block;width:1.2em;height:1em;border:1px solid #999;
vertical-align:middle;margin-right:.4em}svg.plot{background:#f6f6f6;border:1px solid #e0e0e0;vertical-align:middle}
svg.plot polyline{fill:none;stroke-width:1.5}.problem{color:#a00}
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

double Number(const json& value)
{
    return value.is_number() ? value.get<double>() : 0.0;
}

bool Finite(const json& value)
{
    return value.is_number() && std::isfinite(value.get<double>());
}

// A colour value as a CSS colour, when its channels are 0..1 floats.
bool CssColor(const json& value, std::string& sCss)
{
    if (!value.is_array() || value.size() != 4)
        return false;
    int n[4];
    for (size_t i = 0; i < 4; ++i)
    {
        if (!Finite(value[i]))
            return false;
        n[i] = static_cast<int>(std::lround(std::min(std::max(value[i].get<double>(), 0.0), 1.0) * 255.0));
    }
    sCss = Format("rgba(%d,%d,%d,%.3f)", n[0], n[1], n[2], n[3] / 255.0);
    return true;
}

class CPage
{
public:
    explicit CPage(std::FILE* pOut) : m_pOut(pOut) {}

    void Effect(const json& effect, size_t nId, bool bOpen)
    {
        const int32_t nLength = effect["lengthMs"].get<int32_t>();
        std::string s =
            Format("<details class=\"effect\" id=\"e%zu\"%s><summary>", nId, bOpen ? " open" : "") +
            Html(NameOf(effect)) +
            Format(" <span class=\"type\">%d ms, %zu keys</span></summary>\n", nLength,
                   effect["keys"].size());
        s += Timeline(effect);
        for (const json& key : effect["keys"])
        {
            s += "<h3>" + Html(KeyLabel(key)) +
                 Format(" <span class=\"type\">%g to %g ms</span></h3>\n<table class=\"props\">\n",
                        Number(key["start"]) * 1000.0, Number(key["end"]) * 1000.0);
            for (const json& prop : key["properties"])
                s += Property(prop);
            s += "</table>\n";
        }
        std::fputs((s + "</details>\n").c_str(), m_pOut);
    }

    static std::string NameOf(const json& item)
    {
        return item["name"].is_string() ? item["name"].get<std::string>() : std::string("<bad name offset>");
    }

private:
    static std::string KeyLabel(const json& key)
    {
        const std::string sType = key.value("type", "");
        return (sType.empty() ? "type " + std::to_string(key["typeId"].get<uint32_t>()) : sType) + " " +
               std::to_string(key["id"].get<uint32_t>());
    }

    // One row per key: a bar from its start to its end on an axis in milliseconds.
    static std::string Timeline(const json& effect)
    {
        const json& keys = effect["keys"];
        double dEnd = std::max(1.0, static_cast<double>(effect["lengthMs"].get<int32_t>()));
        for (const json& key : keys)
            if (Finite(key["end"]))
                dEnd = std::max(dEnd, key["end"].get<double>() * 1000.0);
        const double dHeight = kRowHeight * static_cast<double>(keys.size()) + 18.0;
        std::string s =
            Format("<svg class=\"timeline\" width=\"%g\" height=\"%g\" viewBox=\"0 0 %g %g\" role=\"img\">\n",
                   kAxisWidth + 20, dHeight, kAxisWidth + 20, dHeight);
        for (int i = 0; i <= 4; ++i)
        {
            const double x = 10 + kLabelWidth + kAxisWidth * i / 4;
            s += Format("<line class=\"axis\" x1=\"%.1f\" y1=\"0\" x2=\"%.1f\" y2=\"%g\"/>"
                        "<text class=\"tick\" x=\"%.1f\" y=\"%g\">%g ms</text>\n",
                        x, x, dHeight - 14, i == 4 ? x - 40 : x + 2, dHeight - 3, std::round(dEnd * i / 4));
        }
        double y = 2;
        for (const json& key : keys)
        {
            const double dStart = Finite(key["start"]) ? key["start"].get<double>() * 1000.0 : 0.0;
            const double dStop = Finite(key["end"]) ? key["end"].get<double>() * 1000.0 : dStart;
            const double x0 = 10 + kAxisWidth * std::min(std::max(dStart / dEnd, 0.0), 1.0);
            const double x1 = 10 + kAxisWidth * std::min(std::max(dStop / dEnd, 0.0), 1.0);
            s += Format("<g class=\"key\"><rect class=\"bar\" x=\"%.1f\" y=\"%g\" width=\"%.1f\" "
                        "height=\"%g\" rx=\"2\">",
                        x0, y, std::max(x1 - x0, 2.0), kRowHeight - 4) +
                 "<title>" + Html(KeyLabel(key)) + Format(": %g to %g ms</title></rect>", dStart, dStop) +
                 Format("<text x=\"%.1f\" y=\"%g\">", std::min(x0 + 4, kAxisWidth - 60), y + kRowHeight - 8) +
                 Html(KeyLabel(key)) + "</text></g>\n";
            y += kRowHeight;
        }
        return s + "</svg>\n";
    }

    std::string Property(const json& prop)
    {
        const std::string sType = prop.value("type", "");
        std::string s =
            "<tr><th>" + Html(NameOf(prop)) + "</th><td class=\"type\">" + Html(sType) + "</td><td>";
        if (prop.contains("points"))
            s += sType == "Color" ? Gradient(prop["points"]) : Plot(prop["points"]);
        else if (prop.contains("curve"))
            s += Format("no curve record at %u", prop["curve"].get<uint32_t>());
        else
        {
            const json& value = prop.contains("value") ? prop["value"] : prop["raw"];
            std::string sCss;
            if (sType == "Color" && CssColor(value, sCss))
                s += "<span class=\"swatch\" style=\"background:" + sCss + "\"></span>";
            s += Html(ValueText(value, sType));
        }
        return s + "</td></tr>\n";
    }

    // Colour curves: a gradient with a stop at each key.
    std::string Gradient(const json& points)
    {
        const std::string sId = Format("g%zu", m_nGradients++);
        std::string s =
            Format("<svg class=\"plot\" width=\"%g\" height=\"20\"><defs><linearGradient id=\"%s\">",
                   kPlotWidth, sId.c_str());
        std::string sTitle;
        for (const json& point : points)
        {
            std::string sCss;
            if (!point.contains("value") || !CssColor(point["value"], sCss))
                continue;
            const double dTime =
                Finite(point["time"]) ? std::min(std::max(Number(point["time"]), 0.0), 1.0) : 0.0;
            s += Format("<stop offset=\"%.4f\" stop-color=\"%s\"/>", dTime, sCss.c_str());
            sTitle += (sTitle.empty() ? "" : ", ") + ValueText(point["time"], "Float") + ": " +
                      ValueText(point["value"], "Color");
        }
        return s + "</linearGradient></defs><rect width=\"100%\" height=\"100%\" fill=\"url(#" + sId +
               ")\"><title>" + Html(sTitle) + "</title></rect></svg> " + Html(sTitle);
    }

    // Number curves: one line per component over the key's normalised life.
    static std::string Plot(const json& points)
    {
        std::vector<std::vector<double>> lines;
        std::vector<double> times;
        double dMin = 0, dMax = 0;
        bool bAny = false;
        std::string sTitle;
        for (const json& point : points)
        {
            if (!point.contains("value"))
                continue;
            const json& value = point["value"];
            const json parts = value.is_array() ? value : json::array({value});
            if (lines.size() < parts.size())
                lines.resize(parts.size());
            times.push_back(Finite(point["time"]) ? Number(point["time"]) : 0.0);
            for (size_t i = 0; i < parts.size(); ++i)
            {
                const double d = Finite(parts[i]) ? Number(parts[i]) : 0.0;
                lines[i].push_back(d);
                dMin = bAny ? std::min(dMin, d) : d;
                dMax = bAny ? std::max(dMax, d) : d;
                bAny = true;
            }
            sTitle += (sTitle.empty() ? "" : ", ") + ValueText(point["time"], "Float") + ": " +
                      ValueText(value, "Float");
        }
        static const char* const kColours[] = {"#c0392b", "#27ae60", "#2e6fd0", "#8e44ad"};
        std::string s =
            Format("<svg class=\"plot\" width=\"%g\" height=\"%g\"><title>", kPlotWidth, kPlotHeight) +
            Html(sTitle) + "</title>";
        const double dSpan = dMax > dMin ? dMax - dMin : 1.0;
        for (size_t c = 0; c < lines.size(); ++c)
        {
            std::string sPoints;
            for (size_t i = 0; i < lines[c].size() && i < times.size(); ++i)
            {
                const double x = 4 + (kPlotWidth - 8) * std::min(std::max(times[i], 0.0), 1.0);
                const double y = kPlotHeight - 4 - (kPlotHeight - 8) * (lines[c][i] - dMin) / dSpan;
                sPoints += Format("%.1f,%.1f ", x, dMax > dMin ? y : kPlotHeight / 2);
            }
            if (lines[c].size() == 1)
                sPoints += Format("%.1f,%.1f", kPlotWidth - 4, kPlotHeight / 2);
            s += Format("<polyline stroke=\"%s\" points=\"", kColours[c % 4]) + sPoints + "\"/>";
        }
        return s + "</svg> " + Html(sTitle);
    }

    std::FILE* m_pOut;
    size_t m_nGradients = 0;
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
            sIndex += Format("<li><a href=\"#e%zu\">", nShown++) + Html(CPage::NameOf(name)) + "</a></li>\n";
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
         ".</p>\n" + sIndex)
            .c_str(),
        pOut);

    CPage page(pOut);
    size_t nId = 0;
    for (PackedFile* pFile : files)
    {
        std::fputs(("<section class=\"file\"><h2>" + Html(pFile->sPath) + "</h2>\n").c_str(), pOut);
        ForEachEffect(*pFile, module,
                      [&](const CPackedEffectReader::Effect& record)
                      {
                          const json effect = EffectJson(*pFile, module, record);
                          if (filter.Passes(effect))
                              page.Effect(effect, nId++, nShown == 1);
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
