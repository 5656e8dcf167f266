// Style merge by value. Nodes are compared in a prefix-free canonical form, so that workbooks writing their
// styles with and without namespace prefixes merge alike.
#include "engine/transfer/Styles.h"

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/package/Xml.h"

namespace orv::engine {

namespace {

constexpr std::array kOrder = {"numFmts",    "fonts", "fills",       "borders", "cellStyleXfs", "cellXfs",
                               "cellStyles", "dxfs",  "tableStyles", "colors",  "extLst"};

constexpr std::string_view kMarkupCompatibility = "http://schemas.openxmlformats.org/markup-compatibility/2006";

// The items of a styles container as a consumer reads them: an mc:AlternateContent among them counts with the
// items of its fallback (the branch for a consumer that knows no extensions), or of its first choice when it
// has no fallback.
std::vector<pugi::xml_node> Items(const pugi::xml_node& container, std::string_view item) {
    std::vector<pugi::xml_node> out;
    for (auto c = container.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) continue;
        if (LocalName(c) == item) {
            out.push_back(c);
        } else if (LocalName(c) == "AlternateContent" && NamespaceOf(c) == kMarkupCompatibility) {
            pugi::xml_node branch;
            for (auto b = c.first_child(); b; b = b.next_sibling()) {
                if (b.type() != pugi::node_element || NamespaceOf(b) != kMarkupCompatibility) continue;
                if (LocalName(b) == "Fallback") branch = b;
                if (LocalName(b) == "Choice" && !branch) branch = b;
            }
            for (auto i : Children(branch, item)) out.push_back(i);
        }
    }
    return out;
}

void SetCount(pugi::xml_node container, std::string_view item) {
    if (!container.attribute("count")) return;
    container.attribute("count") = static_cast<unsigned>(Items(container, item).size());
}

// The format codes every reader knows by id without a definition (those that do not depend on the locale).
const char* BuiltInFormat(int id) {
    switch (id) {
        case 0: return "General";
        case 1: return "0";
        case 2: return "0.00";
        case 3: return "#,##0";
        case 4: return "#,##0.00";
        case 9: return "0%";
        case 10: return "0.00%";
        case 11: return "0.00E+00";
        case 12: return "# ?/?";
        case 13: return "# ?\?/?\?";
        case 14: return "mm-dd-yy";
        case 15: return "d-mmm-yy";
        case 16: return "d-mmm";
        case 17: return "mmm-yy";
        case 18: return "h:mm AM/PM";
        case 19: return "h:mm:ss AM/PM";
        case 20: return "h:mm";
        case 21: return "h:mm:ss";
        case 22: return "m/d/yy h:mm";
        case 37: return "#,##0 ;(#,##0)";
        case 38: return "#,##0 ;[Red](#,##0)";
        case 39: return "#,##0.00;(#,##0.00)";
        case 40: return "#,##0.00;[Red](#,##0.00)";
        case 45: return "mm:ss";
        case 46: return "[h]:mm:ss";
        case 47: return "mmss.0";
        case 48: return "##0.0E+0";
        case 49: return "@";
        default: return nullptr;
    }
}

// The numFmt of `formats` with that id, or an empty node.
pugi::xml_node FormatWithId(const pugi::xml_node& formats, int id) {
    for (auto f : Items(formats, "numFmt")) {
        if (f.attribute("numFmtId").as_int() == id) return f;
    }
    return {};
}

}  // namespace

StyleMerger::StyleMerger(Package& source, const std::string& sourceStyles, Package& target,
                         const std::string& targetStyles)
    : m_target(target), m_targetPart(targetStyles) {
    m_src = Root(source.Xml(sourceStyles));
    m_dst = Root(target.Xml(targetStyles));
}

pugi::xml_node StyleMerger::Container(pugi::xml_node root, const char* name, bool create) {
    if (auto c = Child(root, name)) return c;
    if (!create) return {};
    const auto me = std::find_if(kOrder.begin(), kOrder.end(),
                                 [&](const char* n) { return std::string_view(n) == name; });
    pugi::xml_node before;
    for (auto it = me + 1; it != kOrder.end() && !before; ++it) before = Child(root, *it);
    auto made = InsertElementBefore(root, before, NamespaceOf(root), name);
    made.append_attribute("count") = 0;
    return made;
}

const std::vector<pugi::xml_node>& StyleMerger::SourceItems(const char* container, const char* item) {
    auto [it, fresh] = m_sourceItems.try_emplace(container);
    if (fresh) it->second = Items(Child(m_src, container), item);
    return it->second;
}

pugi::xml_node StyleMerger::SourceItem(const char* container, const char* item, int index) {
    const auto& items = SourceItems(container, item);
    return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(index)]
                                                                : pugi::xml_node();
}

int StyleMerger::FindOrAppend(const char* container, const char* item, pugi::xml_node copy) {
    auto target = Container(m_dst, container, true);
    // Each container's items are put in their comparison form once: workbooks with thousands of formats are
    // common, and a copy asks for hundreds of them.
    auto [found, fresh] = m_targetItems.try_emplace(container);
    TargetItems& items = found->second;
    if (fresh) {
        for (auto existing : Items(target, item)) items.first.emplace(CanonicalXml(existing), items.count++);
    }
    std::string key = CanonicalXml(copy);
    if (auto it = items.first.find(key); it != items.first.end()) return it->second;
    target.append_copy(copy);
    const int index = items.count++;
    items.first.emplace(std::move(key), index);
    if (auto count = target.attribute("count")) count = items.count;
    m_target.MarkChanged(m_targetPart);
    return index;
}

int StyleMerger::MapChild(const char* container, const char* item, int index, std::map<int, int>& cache) {
    if (auto it = cache.find(index); it != cache.end()) return it->second;
    const auto node = SourceItem(container, item, index);
    if (!node) return cache[index] = 0;
    pugi::xml_document scratch;
    auto copy = ImportNodeFor(scratch, Container(m_dst, container, true), node);
    return cache[index] = FindOrAppend(container, item, copy);
}

int StyleMerger::MapNumFmt(int id) {
    if (auto it = m_numFmts.find(id); it != m_numFmts.end()) return it->second;
    // A format is carried by its code: producers number their own formats below 164 too, so an id means a
    // built-in only where the source leaves it undefined.
    std::string code;
    if (auto defined = FormatWithId(Child(m_src, "numFmts"), id)) {
        code = defined.attribute("formatCode").value();
    } else {
        const auto redefined = FormatWithId(Child(m_dst, "numFmts"), id);
        const char* builtIn = BuiltInFormat(id);
        if (!redefined || !builtIn || builtIn == std::string_view(redefined.attribute("formatCode").value()))
            return m_numFmts[id] = id;
        code = builtIn;  // the target took the built-in's id for a format of its own
    }
    auto formats = Container(m_dst, "numFmts", true);
    int highest = 163;
    for (auto f : Items(formats, "numFmt")) {
        if (code == f.attribute("formatCode").value())
            return m_numFmts[id] = f.attribute("numFmtId").as_int();
        highest = std::max(highest, f.attribute("numFmtId").as_int());
    }
    if (const char* builtIn = BuiltInFormat(id); builtIn && code == builtIn && !FormatWithId(formats, id))
        return m_numFmts[id] = id;
    auto made = AppendElement(formats, NamespaceOf(formats), "numFmt");
    made.append_attribute("numFmtId") = highest + 1;
    made.append_attribute("formatCode") = code.c_str();
    SetCount(formats, "numFmt");
    m_target.MarkChanged(m_targetPart);
    return m_numFmts[id] = highest + 1;
}

int StyleMerger::MapStyleXf(int xfId) {
    if (auto it = m_styleXfs.find(xfId); it != m_styleXfs.end()) return it->second;
    pugi::xml_node style;
    for (auto s : Items(Child(m_src, "cellStyles"), "cellStyle")) {
        if (s.attribute("xfId").as_int() == xfId) style = s;
    }
    if (!style) return m_styleXfs[xfId] = 0;
    // A named style the target already has keeps the target's definition.
    for (auto s : Items(Child(m_dst, "cellStyles"), "cellStyle")) {
        if (std::string_view(s.attribute("name").value()) == style.attribute("name").value()) {
            return m_styleXfs[xfId] = s.attribute("xfId").as_int();
        }
    }
    const auto node = SourceItem("cellStyleXfs", "xf", xfId);
    if (!node) return m_styleXfs[xfId] = 0;
    auto xfs = Container(m_dst, "cellStyleXfs", true);
    pugi::xml_document scratch;
    auto copy = ImportXf(scratch, xfs, node);
    xfs.append_copy(copy);
    SetCount(xfs, "xf");
    const int index = static_cast<int>(Items(xfs, "xf").size()) - 1;
    auto styles = Container(m_dst, "cellStyles", true);
    pugi::xml_document styleScratch;
    auto styleCopy = ImportNodeFor(styleScratch, styles, style);
    styleCopy.attribute("xfId") = index;
    styles.append_copy(styleCopy);
    SetCount(styles, "cellStyle");
    m_target.MarkChanged(m_targetPart);
    return m_styleXfs[xfId] = index;
}

pugi::xml_node StyleMerger::ImportXf(pugi::xml_document& scratch, const pugi::xml_node& context,
                                     pugi::xml_node xf) {
    auto copy = ImportNodeFor(scratch, context, xf);
    if (auto a = copy.attribute("fontId")) a = MapChild("fonts", "font", a.as_int(), m_fonts);
    if (auto a = copy.attribute("fillId")) a = MapChild("fills", "fill", a.as_int(), m_fills);
    if (auto a = copy.attribute("borderId")) a = MapChild("borders", "border", a.as_int(), m_borders);
    if (auto a = copy.attribute("numFmtId")) a = MapNumFmt(a.as_int());
    return copy;
}

int StyleMerger::MapXf(int xf) {
    if (auto it = m_xfs.find(xf); it != m_xfs.end()) return it->second;
    const auto node = SourceItem("cellXfs", "xf", xf);
    if (!node) return m_xfs[xf] = 0;
    pugi::xml_document scratch;
    auto copy = ImportXf(scratch, Container(m_dst, "cellXfs", true), node);
    if (auto a = copy.attribute("xfId")) a = MapStyleXf(a.as_int());
    return m_xfs[xf] = FindOrAppend("cellXfs", "xf", copy);
}

int StyleMerger::MapDxf(int dxf) { return MapChild("dxfs", "dxf", dxf, m_dxfs); }

}  // namespace orv::engine
