// The part-graph copy: breadth-first over relationships, fresh names numbered like the application's.
#include "engine/transfer/PartCopy.h"

#include <cctype>
#include <deque>

#include "engine/EngineError.h"
#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/transfer/CarriedLinks.h"

namespace orv::engine {

namespace {

// "xl/worksheets/sheet" and ".xml" for "xl/worksheets/sheet12.xml".
std::pair<std::string, std::string> Stem(const std::string& part) {
    const auto dot = part.rfind('.');
    const auto slash = part.rfind('/');
    std::string base =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? part : part.substr(0, dot);
    const std::string ext = part.substr(base.size());
    while (!base.empty() && std::isdigit(static_cast<unsigned char>(base.back()))) base.pop_back();
    return {base, ext};
}

bool IsMedia(const std::string& type) { return type.starts_with("image/"); }

}  // namespace

PartCopier::PartCopier(Package& source, Package& target, Redirect redirect)
    : m_source(source), m_target(target), m_redirect(std::move(redirect)) {
    // Relative hyperlinks are read against the hyperlink base when the workbook names one, and then lead to
    // the same place from any folder.
    if (source.Has("docProps/app.xml")) {
        try {
            m_hyperlinkBase = !Child(Root(source.Xml("docProps/app.xml")), "HyperlinkBase").text().empty();
        } catch (const EngineError&) {
            // An unreadable app.xml names no base; the package check reports it elsewhere.
        }
    }
}

void PartCopier::Defer(const std::string& sourcePart) { m_deferred.insert(PartKey(sourcePart)); }

std::string PartCopier::FreeName(const std::string& sourcePart) {
    const auto [base, ext] = Stem(sourcePart);
    for (int n = 1;; ++n) {
        const std::string name = base + std::to_string(n) + ext;
        if (!m_target.Has(name)) return name;
    }
}

std::optional<std::string> PartCopier::SameMedia(const std::string& sourcePart, const std::string& bytes) {
    const std::string folder = PartKey(PartFolder(sourcePart));
    for (const auto& part : m_target.PartNames()) {
        if (PartKey(PartFolder(part)) != folder || Extension(part) != Extension(sourcePart)) continue;
        if (m_target.Read(part) == bytes) return part;
    }
    return std::nullopt;
}

std::string PartCopier::Copy(const std::string& sourcePart) {
    ContentTypes sourceTypes(m_source);
    ContentTypes targetTypes(m_target);
    std::deque<std::string> queue;
    auto enqueue = [&](const std::string& part) -> std::string {
        const std::string key = PartKey(part);
        for (const auto& [from, to] : m_copied) {
            if (PartKey(from) == key) return to;
        }
        const std::string type = sourceTypes.TypeOf(part);
        const bool deferred = m_deferred.count(key) > 0;
        const std::string bytes = deferred ? std::string() : m_source.Read(part);
        if (IsMedia(type)) {
            if (auto same = SameMedia(part, bytes)) return m_copied[part] = *same;
        }
        const std::string name = FreeName(part);
        m_target.Write(name, bytes);
        if (sourceTypes.HasOverride(part)) {
            targetTypes.SetOverride(name, type);
        } else if (!type.empty() && !targetTypes.HasDefault(Extension(name))) {
            targetTypes.AddDefault(Extension(name), type);
        }
        m_written.push_back(name);
        m_copied[part] = name;
        queue.push_back(part);
        return name;
    };
    const std::string result = enqueue(sourcePart);
    while (!queue.empty()) {
        const std::string from = queue.front();
        queue.pop_front();
        const auto rels = Relationships(m_source, from).All();
        if (rels.empty()) continue;
        const std::string to = m_copied.at(from);
        // The copy keeps every relationship id, so r:id attributes inside the copied part stay valid.
        std::vector<Relationship> copied;
        for (const auto& rel : rels) {
            Relationship& out = copied.emplace_back(rel);
            // A relative file link is read against the workbook's folder: made right for the target's.
            if (rel.external && !NamesAFileElsewhere(rel.type) && !(m_hyperlinkBase && RelTypeIs(rel.type, "hyperlink")))
                out.target = RebasedLinkTarget(rel.target, m_source.path(), m_target.path());
            if (!rel.external && !rel.targetPart.empty() && m_source.Has(rel.targetPart)) {
                auto redirected = m_redirect ? m_redirect(from, rel) : std::nullopt;
                out.target = RelativeTarget(
                    to, redirected ? *redirected : enqueue(*m_source.Spelling(rel.targetPart)));
            }
        }
        m_target.Write(RelsPartOf(to), RelationshipsPartText(copied));
    }
    return result;
}

}  // namespace orv::engine
