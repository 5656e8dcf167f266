// The spreadsheet application the user has open, as Windows registers it: its running instance, found by its
// automation class. No process list: the programs that hold workbooks open leave lock files beside them.
#pragma once

#include "automation/RunningSpreadsheet.h"

namespace orv::automation::com {

class ActiveObjectTable : public ProcessTable {
  public:
    std::vector<ProcessInfo> List() const override { return {}; }
    unsigned currentUser() const override { return 0; }
    bool AutomationInstanceRunning() const override;
};

}  // namespace orv::automation::com
