// Curve points as CSV rows (RFC 4180 quoting), to plot elsewhere: one row per point, value
// components in columns of their own, colours as 0-255 channels.
#include "fxdump.h"

namespace fxdump
{
namespace
{
using json = nlohmann::ordered_json;

std::string Field(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string sOut = "\"";
    for (char c : s)
        sOut += c == '"' ? std::string("\"\"") : std::string(1, c);
    return sOut + "\"";
}

std::string Number(const json& value)
{
    if (value.is_number_float())
        return ShortFloat(value.get<float>());
    return value.is_string() ? value.get<std::string>() : value.dump();
}

// The value's components: one for scalars, three for vectors, four channels for colours.
std::vector<std::string> Components(const json& value, const std::string& sType)
{
    std::vector<std::string> out;
    if (value.is_array())
    {
        uint32_t nChannel = 0;
        for (const json& part : value)
            out.push_back(sType == "Color" && part.is_number() && FloatToChannel(part.get<float>(), nChannel)
                              ? std::to_string(nChannel)
                              : Number(part));
    }
    else if (value.is_object() && value.contains("choice"))
        out.push_back(value["choice"].get<std::string>());
    else if (value.is_string() || value.is_number())
        out.push_back(Number(value));
    return out;
}
} // namespace

void WriteCsvHeader(std::FILE* pOut)
{
    std::fputs("file,effect,key,type,property,time,value,value2,value3,value4\n", pOut);
}

void WriteCsv(PackedFile& file, const CModuleView& module, const EffectFilter& filter, std::FILE* pOut)
{
    ForEachEffect(file, module,
                  [&](const CPackedEffectReader::Effect& record)
                  {
                      const json effect = EffectJson(file, module, record);
                      if (!filter.Passes(effect))
                          return;
                      const std::string sEffect =
                          Field(effect["name"].is_string() ? effect["name"].get<std::string>() : "");
                      std::string sOut;
                      for (const json& key : effect["keys"])
                          for (const json& prop : key["properties"])
                          {
                              if (!prop.contains("points"))
                                  continue;
                              const std::string sType = prop.value("type", "");
                              const std::string sRow =
                                  Field(file.sPath) + "," + sEffect + "," +
                                  std::to_string(key["id"].get<uint32_t>()) + "," +
                                  Field(key.value("type", "")) + "," +
                                  Field(prop["name"].is_string() ? prop["name"].get<std::string>() : "");
                              for (const json& point : prop["points"])
                              {
                                  sOut += sRow + "," + Number(point["time"]);
                                  if (point.contains("value"))
                                      for (const std::string& s : Components(point["value"], sType))
                                          sOut += "," + Field(s);
                                  sOut += "\n";
                              }
                          }
                      std::fputs(sOut.c_str(), pOut);
                  });
}
} // namespace fxdump
