// The macros a copied sheet's buttons, controls and shapes run: in another workbook they name the source
// workbook's macro, as the application's copies do, so that they keep running the code they ran.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orv::engine {

struct CopyPlan;

// `macro` as a copy in another workbook must name it: a macro of the workbook itself ("[0]!Name", or a bare
// "Name" or "Module1.Name") becomes "[book]!Name", the source workbook's through its link; anything else
// (empty, or a macro of another workbook) comes back unchanged.
std::string MacroOfSource(std::string_view macro, int book);

// True when some part the copies of `plan` brought (or one of their own sheet parts) names a macro of the
// source workbook.
bool CopiesRunSourceMacros(CopyPlan& plan, const std::vector<std::string>& copiedParts);
// Makes every such macro name the source's through link `book`.
void PointMacrosAtSource(CopyPlan& plan, const std::vector<std::string>& copiedParts, int book);

}  // namespace orv::engine
