// Copy, move and delete of several sheets selected together in a list. With one sheet selected the buttons run
// the single-sheet procedures; these run only for a selection of two or more.
#pragma once

#include <string_view>

#include "operations/Panel.h"

namespace orv::operations {

// Copies the sheets selected in `source` side by side to after the sheet selected in `target`, in list order:
// a name the target list already holds (ignoring case), or that an earlier sheet of the group takes, is asked
// for again with the copy's prompt, and Cancel there stops the whole transfer before anything is written. The
// target is saved once with every copy; references among the sheets lead to the copies where the backend can
// carry them so. "Done." comes once when `saysDone`.
void CopySelectedSheets(Panel& source, Panel& target, const Environment& env, std::string_view procedureName,
                        bool saysDone);

// The same transfer, then the sheets leave the source, which is saved only after the target holds them all.
// Refused with the last-sheet message when the source list would be left empty.
void MoveSelectedSheets(Panel& source, Panel& target, const Environment& env, std::string_view procedureName);

// Asks once ("Delete the N selected sheets?") and deletes every selected sheet in one save; refused with the
// last-sheet message when no sheet would be left.
void DeleteSelectedSheets(Panel& panel, const Environment& env, std::string_view procedureName);

}  // namespace orv::operations
