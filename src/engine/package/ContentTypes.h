// The [Content_Types].xml part: the content type of every part, by override or by extension default.
#pragma once

#include <string>
#include <vector>

namespace orv::engine {

class Package;

inline constexpr const char* kContentTypesPart = "[Content_Types].xml";

class ContentTypes {
  public:
    explicit ContentTypes(Package& package) : m_package(package) {}

    // The content type of a part: its override, else the default of its extension, else "".
    std::string TypeOf(const std::string& part);
    // The content types of `parts`, in their order: for many parts at once, the overrides read once.
    std::vector<std::string> TypesOf(const std::vector<std::string>& parts);
    // True when the part has an override of its own.
    bool HasOverride(const std::string& part);
    // Gives the part an override of `type` (adds or changes it).
    void SetOverride(const std::string& part, const std::string& type);
    // Removes the part's override, if any.
    void RemoveOverride(const std::string& part);
    // True when a default exists for the extension.
    bool HasDefault(const std::string& extension);
    void AddDefault(const std::string& extension, const std::string& type);
    // Makes the types exact before a save: drops the overrides of parts removed since opening, and types the
    // relationship parts that have no type (as an override where the package types its parts that way).
    void Reconcile();

  private:
    Package& m_package;
};

// Content types the engine recognises, compared by suffix so that strict and transitional forms both match.
bool ContentTypeIs(const std::string& type, const char* suffix);

}  // namespace orv::engine
