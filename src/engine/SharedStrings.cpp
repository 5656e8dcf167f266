// Shared-string merge: equal strings (by value, runs included) share one entry of the target table.
#include "engine/SharedStrings.h"

#include "engine/ContentTypes.h"
#include "engine/Package.h"
#include "engine/Relationships.h"
#include "engine/Xml.h"

namespace orv::engine {

namespace {

constexpr const char* kSharedStringsType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";

}  // namespace

StringMerger::StringMerger(Package& source, const std::string& sourcePart, Package& target,
                           const std::string& targetWorkbook)
    : m_sourcePart(sourcePart), m_target(target), m_targetWorkbook(targetWorkbook) {
    auto sst = Root(source.Xml(sourcePart));
    for (auto si : Children(sst, "si")) m_sourceItems.push_back(si);
    m_done.assign(m_sourceItems.size(), -1);
}

void StringMerger::EnsureTarget() {
    if (m_ready) return;
    m_ready = true;
    Relationships rels(m_target, m_targetWorkbook);
    if (auto rel = rels.FirstOfKind("sharedStrings"); rel && m_target.Has(rel->targetPart)) {
        m_targetPart = *m_target.Spelling(rel->targetPart);
    } else {
        const char* main = Root(m_target.Xml(m_targetWorkbook)).attribute("xmlns").value();
        m_targetPart = "xl/sharedStrings.xml";
        for (int n = 2; m_target.Has(m_targetPart); ++n)
            m_targetPart = "xl/sharedStrings" + std::to_string(n) + ".xml";
        m_target.Write(
            m_targetPart,
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<sst xmlns=\"" +
                std::string(*main ? main : "http://schemas.openxmlformats.org/spreadsheetml/2006/main") +
                "\" count=\"0\" uniqueCount=\"0\"></sst>");
        // The relationship type follows the workbook's own (transitional or strict).
        std::string type =
            "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
        if (auto any = rels.FirstOfKind("styles"))
            type = any->type.substr(0, any->type.rfind('/') + 1) + "sharedStrings";
        rels.Add(type, m_targetPart);
        ContentTypes(m_target).SetOverride(m_targetPart, kSharedStringsType);
    }
    auto sst = Root(m_target.Xml(m_targetPart));
    int index = 0;
    for (auto si : Children(sst, "si")) m_existing.emplace(CanonicalXml(si), index++);
}

int StringMerger::Map(int index) {
    EnsureTarget();
    if (index < 0 || index >= static_cast<int>(m_sourceItems.size())) return 0;
    int& done = m_done[static_cast<std::size_t>(index)];
    if (done >= 0) return done;
    const pugi::xml_node source = m_sourceItems[static_cast<std::size_t>(index)];
    const std::string key = CanonicalXml(source);
    if (auto it = m_existing.find(key); it != m_existing.end()) return done = it->second;
    auto sst = Root(m_target.Xml(m_targetPart));
    ImportNode(sst, source);
    const int added = static_cast<int>(m_existing.size());
    m_existing.emplace(key, added);
    sst.attribute("uniqueCount") = added + 1;
    if (auto count = sst.attribute("count")) count = count.as_int() + 1;
    m_target.MarkChanged(m_targetPart);
    return done = added;
}

}  // namespace orv::engine
