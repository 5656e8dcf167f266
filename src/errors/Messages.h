// The program's own texts, in one table, and the application title that titles every box without its own.
#pragma once

#include <string>

namespace orv::errors {

// Configuration values of the distributor. The addresses sit under a domain reserved for documentation until
// the distributor sets real ones.
inline constexpr const char* kProductName = "Orvandel";
inline constexpr const char* kProjectNameInReports = "Orvandel2021/08/31";
inline constexpr const char* kSupportAddress = "support@orvandel.example";
inline constexpr const char* kHomePageAddress = "https://www.orvandel.example/";

// The title of every message box and input box that gives no title of its own.
const std::string& ApplicationTitle();
void SetApplicationTitle(std::string title);

namespace msg {
inline constexpr const char* kDone = "Done.";
inline constexpr const char* kFile1NotValid = "Excel File #1 does not appear to be valid";
inline constexpr const char* kFile2NotValid = "Excel File #2 does not appear to be valid";
inline constexpr const char* kSelectFile2 = "Please select Excel File #2";
inline constexpr const char* kSheetExists = "Sheet already exists. Please rename:";
inline constexpr const char* kRenameTo = "Rename to:";
inline constexpr const char* kCannotMoveLast =
    "You can not move a sheet if it is the last one left in the workbook.";
inline constexpr const char* kCannotDeleteLast =
    "You can not delete a sheet if it is the last one left in the workbook.";
inline constexpr const char* kSelectExcelFile = "Select Excel File";
inline constexpr const char* kExcelFilter = "Excel Files (*.xl*)|*.xl*|All Files (*.*)|*.*";
inline constexpr unsigned kOpenFileFlags = 0x280001;
inline constexpr const char* kErrorReportTitle = "Application Error";
inline constexpr const char* kSpreadsheetMayBeOpen =
    "Excel may be open. It is recommended that you close Excel first.\r"
    "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
    "Would you like to proceed anyway?";
inline constexpr const char* kNoSpreadsheetInstance =
    "Error 842001. A normal instance of Excel could not be created.\r\n\r\n"
    "1. Please make sure Excel is installed on this computer.\r\n\r\n"
    "2. Please open Excel normally and make sure a blank spreadsheet opens immediately without any "
    "interrupting "
    "window (such as an Excel file recovery window).\r\n\r\n"
    "3. Please make sure that when you double-click on a XLS or XLSX file that Excel opens normally without "
    "any "
    "interrupting messages.\r\n\r\n"
    "4. All versions of Excel are supported by this software except for the rare Excel Starter and Student "
    "editions.";
}  // namespace msg

}  // namespace orv::errors
