// Copying a graph of parts (a sheet with its drawings, charts, images, comments, tables...) from one package
// into another under fresh part names, with the relationships between the copies kept and content types
// added.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/package/Relationships.h"

namespace orv::engine {

class Package;

class PartCopier {
  public:
    // For a relationship of a copied part: a target part in the destination to point at instead of copying
    // the source's target (workbook-level parts such as pivot caches), or nullopt to copy it.
    using Redirect =
        std::function<std::optional<std::string>(const std::string& fromPart, const Relationship& rel)>;

    PartCopier(Package& source, Package& target, Redirect redirect = {});

    // Copies `sourcePart` and everything it reaches through internal relationships; returns the new name of
    // `sourcePart`. Images equal to one the target already has are not copied again. Throws EngineError when
    // a source part cannot be read.
    std::string Copy(const std::string& sourcePart);

    // The copy of `sourcePart` is written empty: the caller writes its content (a part too large to read twice).
    void Defer(const std::string& sourcePart);

    // Source part -> destination part of everything copied (or reused) so far.
    const std::map<std::string, std::string>& copied() const { return m_copied; }
    // The destination parts that were newly written, in copy order.
    const std::vector<std::string>& written() const { return m_written; }

  private:
    std::string FreeName(const std::string& sourcePart);
    std::optional<std::string> SameMedia(const std::string& sourcePart, const std::string& bytes);

    Package& m_source;
    Package& m_target;
    Redirect m_redirect;
    std::set<std::string> m_deferred;  // part keys
    std::map<std::string, std::string> m_copied;
    std::vector<std::string> m_written;
    bool m_hyperlinkBase = false;  // the source names a base for its relative hyperlinks
};

}  // namespace orv::engine
