// Macros are named in three places: the macro attribute of drawing shapes, the macro attribute of a control's
// properties in the sheet part, and the FmlaMacro element of legacy (VML) controls, whose parts are not
// always well-formed XML and are edited as text.
#include "engine/transfer/MacroReferences.h"

#include "engine/package/ContentTypes.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/transfer/SheetCopyPlan.h"

namespace orv::engine {

namespace {

bool IsVml(const std::string& part) { return Extension(part) == "vml"; }

// Calls `edit` on the text of every FmlaMacro element of a VML part; returns the part with the results.
template <typename Edit>
std::string EachVmlMacro(std::string text, Edit&& edit) {
    for (std::size_t at = text.find("FmlaMacro>"); at != std::string::npos; at = text.find("FmlaMacro>", at)) {
        // Skip closing tags: the value follows an opening one.
        const bool closing = at >= 2 && text[at - 1] == '/';
        at += 10;
        if (closing) continue;
        const std::size_t end = text.find('<', at);
        if (end == std::string::npos) break;
        const std::string value = edit(std::string_view(text).substr(at, end - at));
        text.replace(at, end - at, value);
        at += value.size();
    }
    return text;
}

template <typename Visit>
void EachMacroAttribute(pugi::xml_node root, Visit&& visit) {
    for (auto node : root.select_nodes(".//*[@macro]")) visit(node.node().attribute("macro"));
}

// Visits every macro the copies name: `attribute` for those in XML, `vml` for the VML parts' texts.
template <typename Attribute, typename Vml>
void EachCopiedMacro(CopyPlan& plan, const std::vector<std::string>& copiedParts, Attribute&& attribute,
                     Vml&& vml) {
    for (auto& m : plan.group) {
        if (m.rows) EachMacroAttribute(Root(m.rows->skeleton), [&](pugi::xml_attribute a) { attribute(a, ""); });
    }
    ContentTypes types(*plan.dst);
    for (const auto& part : copiedParts) {
        if (IsVml(part)) {
            vml(part);
        } else if (ContentTypeIs(types.TypeOf(part), "drawing+xml") ||
                   ContentTypeIs(types.TypeOf(part), "chartsheet+xml")) {
            EachMacroAttribute(Root(plan.dst->Xml(part)), [&](pugi::xml_attribute a) { attribute(a, part); });
        }
    }
}

}  // namespace

std::string MacroOfSource(std::string_view macro, int book) {
    std::string_view name = macro;
    if (macro.starts_with("[0]!")) {
        name = macro.substr(4);
    } else if (macro.empty() || macro.find('!') != std::string_view::npos || macro.starts_with('[') ||
               macro.starts_with('\'')) {
        return std::string(macro);
    }
    return "[" + std::to_string(book) + "]!" + std::string(name);
}

bool CopiesRunSourceMacros(CopyPlan& plan, const std::vector<std::string>& copiedParts) {
    bool found = false;
    auto check = [&](std::string_view macro) {
        if (MacroOfSource(macro, 1) != macro) found = true;
        return std::string(macro);
    };
    EachCopiedMacro(
        plan, copiedParts, [&](pugi::xml_attribute a, const std::string&) { check(a.value()); },
        [&](const std::string& part) { EachVmlMacro(plan.dst->Read(part), check); });
    return found;
}

void PointMacrosAtSource(CopyPlan& plan, const std::vector<std::string>& copiedParts, int book) {
    EachCopiedMacro(
        plan, copiedParts,
        [&](pugi::xml_attribute a, const std::string& part) {
            const std::string value = MacroOfSource(a.value(), book);
            if (value == a.value()) return;
            a = value.c_str();
            if (!part.empty()) plan.dst->MarkChanged(part);
        },
        [&](const std::string& part) {
            const std::string before = plan.dst->Read(part);
            std::string after = EachVmlMacro(before, [&](std::string_view macro) { return MacroOfSource(macro, book); });
            if (after != before) plan.dst->Write(part, std::move(after));
        });
}

}  // namespace orv::engine
