// Style merge by value. Nodes are compared in a prefix-free canonical form, so that workbooks writing their
// styles with and without namespace prefixes merge alike.
#include "engine/Styles.h"

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "engine/EngineError.h"
#include "engine/Package.h"
#include "engine/Xml.h"

namespace orv::engine {

namespace {

constexpr std::array kOrder = {"numFmts",    "fonts", "fills",       "borders", "cellStyleXfs", "cellXfs",
                               "cellStyles", "dxfs",  "tableStyles", "colors",  "extLst"};

pugi::xml_node Nth(const pugi::xml_node& container, const char* item, int index) {
    int i = 0;
    for (auto c : Children(container, item)) {
        if (i++ == index) return c;
    }
    return {};
}

void SetCount(pugi::xml_node container) {
    if (!container.attribute("count")) return;
    int n = 0;
    for (auto c = container.first_child(); c; c = c.next_sibling()) n += c.type() == pugi::node_element;
    container.attribute("count") = n;
}

}  // namespace

StyleMerger::StyleMerger(Package& source, const std::string& sourceStyles, Package& target,
                         const std::string& targetStyles)
    : m_target(target), m_targetPart(targetStyles) {
    m_src = Root(source.Xml(sourceStyles));
    m_dst = Root(target.Xml(targetStyles));
    m_srcPrefix = PrefixOf(m_src);
    m_dstPrefix = PrefixOf(m_dst);
}

pugi::xml_node StyleMerger::Container(pugi::xml_node root, const char* name, bool create) {
    if (auto c = Child(root, name)) return c;
    if (!create) return {};
    const auto me = std::find_if(kOrder.begin(), kOrder.end(),
                                 [&](const char* n) { return std::string_view(n) == name; });
    pugi::xml_node before;
    for (auto it = me + 1; it != kOrder.end() && !before; ++it) before = Child(root, *it);
    const std::string element = m_dstPrefix + name;
    auto made =
        before ? root.insert_child_before(element.c_str(), before) : root.append_child(element.c_str());
    made.append_attribute("count") = 0;
    return made;
}

int StyleMerger::FindOrAppend(const char* container, const char* item, pugi::xml_node copy) {
    auto target = Container(m_dst, container, true);
    const std::string key = CanonicalXml(copy);
    int index = 0;
    for (auto existing : Children(target, item)) {
        if (CanonicalXml(existing) == key) return index;
        ++index;
    }
    target.append_copy(copy);
    SetCount(target);
    m_target.MarkChanged(m_targetPart);
    return index;
}

int StyleMerger::MapChild(const char* container, const char* item, int index, std::map<int, int>& cache) {
    if (auto it = cache.find(index); it != cache.end()) return it->second;
    const auto node = Nth(Child(m_src, container), item, index);
    if (!node) return cache[index] = 0;
    pugi::xml_document scratch;
    auto copy = ImportNode(scratch, node, m_srcPrefix, m_dstPrefix);
    return cache[index] = FindOrAppend(container, item, copy);
}

int StyleMerger::MapNumFmt(int id) {
    if (id < 164) return id;
    if (auto it = m_numFmts.find(id); it != m_numFmts.end()) return it->second;
    std::string code;
    for (auto f : Children(Child(m_src, "numFmts"), "numFmt")) {
        if (f.attribute("numFmtId").as_int() == id) code = f.attribute("formatCode").value();
    }
    if (code.empty()) return m_numFmts[id] = 0;
    auto formats = Container(m_dst, "numFmts", true);
    int highest = 163;
    for (auto f : Children(formats, "numFmt")) {
        if (code == f.attribute("formatCode").value())
            return m_numFmts[id] = f.attribute("numFmtId").as_int();
        highest = std::max(highest, f.attribute("numFmtId").as_int());
    }
    auto made = formats.append_child((m_dstPrefix + "numFmt").c_str());
    made.append_attribute("numFmtId") = highest + 1;
    made.append_attribute("formatCode") = code.c_str();
    SetCount(formats);
    m_target.MarkChanged(m_targetPart);
    return m_numFmts[id] = highest + 1;
}

int StyleMerger::MapStyleXf(int xfId) {
    if (auto it = m_styleXfs.find(xfId); it != m_styleXfs.end()) return it->second;
    pugi::xml_node style;
    for (auto s : Children(Child(m_src, "cellStyles"), "cellStyle")) {
        if (s.attribute("xfId").as_int() == xfId) style = s;
    }
    if (!style) return m_styleXfs[xfId] = 0;
    // A named style the target already has keeps the target's definition.
    for (auto s : Children(Child(m_dst, "cellStyles"), "cellStyle")) {
        if (std::string_view(s.attribute("name").value()) == style.attribute("name").value()) {
            return m_styleXfs[xfId] = s.attribute("xfId").as_int();
        }
    }
    const auto node = Nth(Child(m_src, "cellStyleXfs"), "xf", xfId);
    if (!node) return m_styleXfs[xfId] = 0;
    pugi::xml_document scratch;
    auto copy = ImportXf(scratch, node);
    auto xfs = Container(m_dst, "cellStyleXfs", true);
    xfs.append_copy(copy);
    SetCount(xfs);
    const int index = static_cast<int>(Children(xfs, "xf").size()) - 1;
    auto styles = Container(m_dst, "cellStyles", true);
    pugi::xml_document styleScratch;
    auto styleCopy = ImportNode(styleScratch, style, m_srcPrefix, m_dstPrefix);
    styleCopy.attribute("xfId") = index;
    styles.append_copy(styleCopy);
    SetCount(styles);
    m_target.MarkChanged(m_targetPart);
    return m_styleXfs[xfId] = index;
}

pugi::xml_node StyleMerger::ImportXf(pugi::xml_document& scratch, pugi::xml_node xf) {
    auto copy = ImportNode(scratch, xf, m_srcPrefix, m_dstPrefix);
    if (auto a = copy.attribute("fontId")) a = MapChild("fonts", "font", a.as_int(), m_fonts);
    if (auto a = copy.attribute("fillId")) a = MapChild("fills", "fill", a.as_int(), m_fills);
    if (auto a = copy.attribute("borderId")) a = MapChild("borders", "border", a.as_int(), m_borders);
    if (auto a = copy.attribute("numFmtId")) a = MapNumFmt(a.as_int());
    return copy;
}

int StyleMerger::MapXf(int xf) {
    if (auto it = m_xfs.find(xf); it != m_xfs.end()) return it->second;
    const auto node = Nth(Child(m_src, "cellXfs"), "xf", xf);
    if (!node) return m_xfs[xf] = 0;
    pugi::xml_document scratch;
    auto copy = ImportXf(scratch, node);
    if (auto a = copy.attribute("xfId")) a = MapStyleXf(a.as_int());
    return m_xfs[xf] = FindOrAppend("cellXfs", "xf", copy);
}

int StyleMerger::MapDxf(int dxf) { return MapChild("dxfs", "dxf", dxf, m_dxfs); }

}  // namespace orv::engine
