// Shared-string merge: equal strings (by value, runs included) share one entry of the target table.
#include "engine/transfer/SharedStrings.h"

#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "platform/Threads.h"

namespace orv::engine {

namespace {

constexpr const char* kSharedStringsType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";

// True when `node` and everything in it can be copied as it stands into a table whose main namespace is the
// default one: elements unprefixed, no namespace declared inside, attributes unprefixed or in the xml
// namespace. Nearly every string is; the others go through the namespace-aware import.
bool PlainItem(const pugi::xml_node& node) {
    if (node.type() != pugi::node_element) return true;
    if (std::string_view(node.name()).find(':') != std::string_view::npos) return false;
    for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name(a.name());
        if (name.starts_with("xmlns") || (name.find(':') != std::string_view::npos && !name.starts_with("xml:")))
            return false;
    }
    for (auto c = node.first_child(); c; c = c.next_sibling()) {
        if (!PlainItem(c)) return false;
    }
    return true;
}

// True when unprefixed elements under `root` are in its main namespace, and that namespace is named by the
// default declaration first.
bool MainIsDefault(const pugi::xml_node& root) {
    if (std::string_view(root.name()).find(':') != std::string_view::npos) return false;
    const std::string_view main = NamespaceOf(root);
    if (main.empty()) return false;
    for (auto a = root.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name(a.name());
        // A markup-compatibility list could make a namespace of the copied items ignorable.
        if (LocalName(a) == "Ignorable") return false;
        if (name.starts_with("xmlns:") && main == a.value()) return false;
    }
    return true;
}

}  // namespace

StringMerger::StringMerger(Package& source, const std::string& sourcePart, Package& target,
                           const std::string& targetWorkbook)
    : m_sourcePart(sourcePart), m_target(target), m_targetWorkbook(targetWorkbook) {
    auto sst = Root(source.Xml(sourcePart));
    for (auto si : Children(sst, "si")) m_sourceItems.push_back(si);
    m_done.assign(m_sourceItems.size(), -1);
    m_plainSource = MainIsDefault(sst);
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
    m_sst = Root(m_target.Xml(m_targetPart));
    m_plainTarget = MainIsDefault(m_sst);
    const auto items = Children(m_sst, "si");
    m_existing.reserve(items.size() + m_sourceItems.size());
    for (auto si : items) m_existing.emplace(CanonicalXml(si), m_count++);
    m_targetOwn = m_count;
}

void StringMerger::Prepare(const std::vector<int>& indices) {
    constexpr std::size_t kSideBySideFrom = 10000;
    const std::size_t shares = indices.size() >= kSideBySideFrom ? platform::WorkerThreads() : 1;
    if (shares < 2) return;
    m_keys.resize(m_sourceItems.size());
    platform::SideBySide(shares, [&](std::size_t k) {
        for (std::size_t i = indices.size() * k / shares; i < indices.size() * (k + 1) / shares; ++i) {
            const auto at = static_cast<std::size_t>(indices[i]);
            if (indices[i] < 0 || at >= m_sourceItems.size() || m_done[at] >= 0) continue;
            m_keys[at] = CanonicalXml(m_sourceItems[at]);
        }
    });
}

int StringMerger::Map(int index) {
    EnsureTarget();
    if (index < 0 || index >= static_cast<int>(m_sourceItems.size())) return 0;
    const auto at = static_cast<std::size_t>(index);
    int& done = m_done[at];
    if (done >= 0) return done;
    const pugi::xml_node source = m_sourceItems[at];
    std::string key = at < m_keys.size() && !m_keys[at].empty() ? std::move(m_keys[at]) : CanonicalXml(source);
    const auto [it, fresh] = m_existing.try_emplace(std::move(key), m_count);
    if (!fresh) return done = it->second;
    if (m_plainSource && m_plainTarget && PlainItem(source))
        m_sst.append_copy(source);
    else
        ImportNode(m_sst, source);
    // Counted, not taken from the lookup's size: a table can hold equal strings twice.
    const int added = m_count++;
    m_sst.attribute("uniqueCount") = added + 1;
    if (auto count = m_sst.attribute("count")) count = count.as_int() + 1;
    if (added == m_targetOwn) m_target.MarkChanged(m_targetPart);
    return done = added;
}

}  // namespace orv::engine
