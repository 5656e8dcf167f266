// Workbook file formats, told from the file name's extension.
#pragma once

#include <string>
#include <string_view>

namespace orv::automation {

enum class FileFormat { Xlsx, Xlsm, Xltx, Xltm, Xls, Ods, Xlsb, Unknown };

FileFormat FormatOfPath(std::string_view path);

// True for the four Office Open XML spreadsheet formats our engine reads and writes.
bool IsOoxml(FileFormat format);

// A phrase for messages, e.g. "Excel 97-2003 (.xls)".
std::string DescribeFormat(FileFormat format);

}  // namespace orv::automation
