// Merging cell formats of one workbook into another by value: fonts, fills, borders, number formats, cell
// formats, named cell styles and differential formats, reusing what the target already has.
#pragma once

#include <map>
#include <pugixml.hpp>
#include <string>
#include <unordered_map>
#include <vector>

namespace orv::engine {

class Package;

class StyleMerger {
  public:
    // Works on the styles parts of both workbooks; throws EngineError when either cannot be read.
    StyleMerger(Package& source, const std::string& sourceStyles, Package& target,
                const std::string& targetStyles);

    // The target's cellXfs index that looks like source cellXfs index `xf` (added when missing).
    int MapXf(int xf);
    // The target's dxfs index equal to source dxf `dxf` (added when missing).
    int MapDxf(int dxf);

  private:
    int MapChild(const char* container, const char* item, int index, std::map<int, int>& cache);
    int MapNumFmt(int id);
    int MapStyleXf(int xfId);
    // A copy of a source xf in `scratch`, its font, fill, border and number format mapped into the target.
    pugi::xml_node ImportXf(pugi::xml_document& scratch, const pugi::xml_node& context, pugi::xml_node xf);
    int FindOrAppend(const char* container, const char* item, pugi::xml_node copy);
    const std::vector<pugi::xml_node>& SourceItems(const char* container, const char* item);
    pugi::xml_node SourceItem(const char* container, const char* item, int index);
    pugi::xml_node Container(pugi::xml_node root, const char* name, bool create);

    Package& m_target;
    std::string m_targetPart;
    pugi::xml_node m_src;
    pugi::xml_node m_dst;
    std::map<int, int> m_xfs, m_fonts, m_fills, m_borders, m_numFmts, m_styleXfs, m_dxfs;
    // The source's items by container (it does not change), and the target's by their comparison form, the
    // first of equal ones, kept as items are added.
    std::map<std::string, std::vector<pugi::xml_node>, std::less<>> m_sourceItems;
    struct TargetItems {
        std::unordered_map<std::string, int> first;
        int count = 0;
    };
    std::map<std::string, TargetItems, std::less<>> m_targetItems;
};

}  // namespace orv::engine
