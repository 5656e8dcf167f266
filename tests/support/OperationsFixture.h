// A window with two panels ready for sheet operations, on real workbook files or on the failure-injecting
// memory backend, with ways to read back what the files on disk hold.
#pragma once

#include <fstream>

#include "WindowFixture.h"

namespace orv::testing {

class OperationsFixture : public WindowFixture {
  protected:
    // Real files: copies each workbook into the work folder and lists it into its panel.
    void LoadReal(const std::string& workbook1, const std::string& workbook2 = {});

    // Memory files: two dummy files on disk (so their paths exist) whose sheets live in the store.
    void LoadMemory(std::vector<MemorySheet> sheets1, std::vector<MemorySheet> sheets2 = {{"Other"}});
    // Memory files with `count` sheets in panel 1 ("Sheet1"...), more than its list shows at once, in a shown
    // window (Qt scrolls only a visible view).
    void LoadLongListShown(int count);

    // The sheet names of a real workbook file, in workbook order, every kind of sheet.
    static std::vector<std::string> SheetsOnDisk(const std::string& path);
    static std::string Bytes(const std::string& path);

    std::vector<std::string> Stored(int panel) const { return store->names(panel == 1 ? path1 : path2); }
    QStringList List(int panel) const { return panel == 1 ? list1() : list2(); }
    int Selected(int panel) const;

    std::shared_ptr<MemoryStore> store;
    std::string path1;
    std::string path2;
};

}  // namespace orv::testing
