// What the sheet operations see of the window: the two workbook panels with their path boxes and sheet lists,
// the window's pointer, and the services they call. The window implements these; the operations never include
// a widget header.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::errors {
class Dialogs;
}
namespace orv::automation {
class BackendRegistry;
class ProcessTable;
}  // namespace orv::automation

namespace orv::operations {

// A panel's sheet list. Positions count from 1. Calls that address a missing item throw std::runtime_error
// with a description naming the list.
class SheetList {
  public:
    virtual ~SheetList() = default;
    virtual int count() const = 0;
    // The position of the selected item (the current one when several are selected); throws when no item is
    // selected.
    virtual int selectedPosition() const = 0;
    // Every selected position, in list order; empty when none is. A list that selects one item at a time has
    // at most its selected one.
    virtual std::vector<int> selectedPositions() const;
    virtual std::string text(int position) const = 0;
    // Inserts an item at `position` (count() + 1 appends); the items from there on move down by one.
    virtual void insert(int position, const std::string& text) = 0;
    virtual void remove(int position) = 0;
    // Selects the item at `position`; the previously selected item is deselected.
    virtual void select(int position) = 0;
    virtual void scrollTo(int position) = 0;
    virtual void focus() = 0;
    virtual void clear() = 0;
};

// One of the two workbook panels, "Excel File #1" or "Excel File #2".
class Panel {
  public:
    virtual ~Panel() = default;
    virtual int number() const = 0;
    // The text of the path box, exactly as it stands.
    virtual std::string path() const = 0;
    // Writes the path box; the panel lists the workbook before this returns.
    virtual void setPath(const std::string& path) = 0;
    virtual SheetList& list() = 0;
};

// The main window's one pointer setting.
class WindowPointer {
  public:
    virtual ~WindowPointer() = default;
    virtual void setHourglass() = 0;  // MousePointer = 11
    virtual void setDefault() = 0;    // MousePointer = 0
};

// The services a procedure run uses.
struct Environment {
    errors::Dialogs& dialogs;
    std::shared_ptr<const automation::BackendRegistry> backends;
    const automation::ProcessTable& processes;
    WindowPointer& pointer;
};

}  // namespace orv::operations
