// Tells a workbook's format from its file name.
#include "automation/FileFormat.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/Paths.h"

namespace orv::automation {

FileFormat FormatOfPath(std::string_view path) {
    std::string ext = platform::Utf8FromPath(platform::PathFromUtf8(path).extension());
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == ".xlsx") return FileFormat::Xlsx;
    if (ext == ".xlsm") return FileFormat::Xlsm;
    if (ext == ".xltx") return FileFormat::Xltx;
    if (ext == ".xltm") return FileFormat::Xltm;
    if (ext == ".xls") return FileFormat::Xls;
    if (ext == ".ods") return FileFormat::Ods;
    if (ext == ".xlsb") return FileFormat::Xlsb;
    return FileFormat::Unknown;
}

bool IsOoxml(FileFormat format) {
    return format == FileFormat::Xlsx || format == FileFormat::Xlsm || format == FileFormat::Xltx ||
           format == FileFormat::Xltm;
}

std::string DescribeFormat(FileFormat format) {
    switch (format) {
        case FileFormat::Xlsx:
            return "Excel workbook (.xlsx)";
        case FileFormat::Xlsm:
            return "Excel macro-enabled workbook (.xlsm)";
        case FileFormat::Xltx:
            return "Excel template (.xltx)";
        case FileFormat::Xltm:
            return "Excel macro-enabled template (.xltm)";
        case FileFormat::Xls:
            return "Excel 97-2003 workbook (.xls)";
        case FileFormat::Ods:
            return "OpenDocument spreadsheet (.ods)";
        case FileFormat::Xlsb:
            return "Excel binary workbook (.xlsb)";
        case FileFormat::Unknown:
            break;
    }
    return "unknown";
}

}  // namespace orv::automation
