// Quick fixes: the fix each published diagnostic carries in its "data", as a workspace edit.
#include "requests.h"

nlohmann::json CodeActions(const DocumentView& view, const nlohmann::json& params)
{
    nlohmann::json actions = nlohmann::json::array();
    const auto context = params.find("context");
    if (context == params.end() || !context->is_object())
        return actions;
    const auto diagnostics = context->find("diagnostics");
    if (diagnostics == context->end() || !diagnostics->is_array())
        return actions;
    for (const nlohmann::json& diag : *diagnostics)
    {
        if (!diag.is_object() || !diag.contains("data") || !diag["data"].is_object() ||
            !diag["data"].contains("fix"))
            continue;
        const nlohmann::json& fix = diag["data"]["fix"];
        if (!fix.is_object() || !fix.contains("range") || !fix.contains("newText") ||
            !fix["newText"].is_string() || !fix.contains("title") || !fix["title"].is_string())
            continue;
        nlohmann::json edit = {{"range", fix["range"]}, {"newText", fix["newText"]}};
        actions.push_back({{"title", fix["title"]},
                           {"kind", "quickfix"},
                           {"diagnostics", nlohmann::json::array({diag})},
                           {"isPreferred", true},
                           {"edit", {{"changes", {{view.doc.Uri(), nlohmann::json::array({edit})}}}}}});
    }
    return actions;
}
