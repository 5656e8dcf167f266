// The relationships of one part (or of the package): read and edited in place in its .rels part.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orv::engine {

class Package;

struct Relationship {
    std::string id;
    std::string type;
    std::string target;      // as written
    bool external = false;   // TargetMode="External"
    std::string targetPart;  // the resolved part name; "" for external targets
};

// True when a relationship type names this kind (by its last segment: "worksheet", "xlMacrosheet"...), so
// that strict and transitional types match alike.
bool RelTypeIs(const std::string& type, const char* kind);

// The text of a relationships part holding `rels` as given (ids, types, targets, external or not), as the
// application writes one.
std::string RelationshipsPartText(const std::vector<Relationship>& rels);

class Relationships {
  public:
    // The relationships of `sourcePart` ("" for the package's own).
    Relationships(Package& package, std::string sourcePart);

    const std::string& sourcePart() const { return m_source; }
    const std::string& relsPart() const { return m_relsPart; }

    // Every relationship, in document order; empty when the part has no relationships part.
    std::vector<Relationship> All();
    std::optional<Relationship> ById(const std::string& id);
    // The first relationship of a kind (see RelTypeIs).
    std::optional<Relationship> FirstOfKind(const char* kind);
    // Removes a relationship; removes the relationships part itself when it becomes empty.
    void Remove(const std::string& id);
    // Adds an internal relationship to `targetPart` and returns its new, unused id.
    std::string Add(const std::string& type, const std::string& targetPart);
    // Adds a relationship to something outside the package (TargetMode="External") and returns its new id.
    std::string AddExternal(const std::string& type, const std::string& target);

  private:
    std::string AddRaw(const std::string& type, const std::string& target, bool external);
    Package& m_package;
    std::string m_source;
    std::string m_relsPart;
};

}  // namespace orv::engine
