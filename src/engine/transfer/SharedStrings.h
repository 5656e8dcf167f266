// Re-indexing shared strings of one workbook into another's table, reusing equal strings (rich text and
// phonetic runs compared and kept whole).
#pragma once

#include <pugixml.hpp>
#include <string>
#include <unordered_map>
#include <vector>

namespace orv::engine {

class Package;

class StringMerger {
  public:
    // `targetPart` is the target's shared-strings part, created (with its relationship and content type) on
    // first need when the target has none. Throws EngineError when a table cannot be read.
    StringMerger(Package& source, const std::string& sourcePart, Package& target,
                 const std::string& targetWorkbook);

    // The target index of source string `index`.
    int Map(int index);
    // Readies the source strings `indices` (each listed once) for Map, side by side when they are many: the
    // comparison form of each string is most of the work of merging a large table.
    void Prepare(const std::vector<int>& indices);

  private:
    void EnsureTarget();

    std::string m_sourcePart;
    Package& m_target;
    std::string m_targetWorkbook;
    std::string m_targetPart;
    pugi::xml_node m_sst;  // the target's table
    bool m_plainSource = false, m_plainTarget = false;
    std::vector<pugi::xml_node> m_sourceItems;
    std::vector<int> m_done;  // by source index, -1 until mapped: asked for every cell of a sheet
    std::vector<std::string> m_keys;  // by source index: comparison forms made ahead, until mapped
    std::unordered_map<std::string, int> m_existing;  // the first entry of each string
    int m_count = 0;                                  // the target table's entries
    int m_targetOwn = 0;  // the entries it had: the first string added marks the table changed
    bool m_ready = false;
};

}  // namespace orv::engine
