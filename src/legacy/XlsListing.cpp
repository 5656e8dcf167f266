// Lists the sheets of an Excel 5 to 2003 workbook (.xls) from the BoundSheet records of its workbook globals.
#include <filesystem>
#include <stdexcept>

#include "compound/CompoundFile.h"
#include "legacy/BiffRecords.h"
#include "legacy/SheetListing.h"
#include "platform/TextCase.h"
#include "platform/TextEncoding.h"

namespace orv::legacy {

using automation::AutomationError;
using automation::SheetKind;
using compound::CompoundFile;
using automation::SheetVisibility;

namespace {

using namespace biff;

const std::string kDamagedAdvice =
    "Open it in a spreadsheet application to repair it, or use a good copy of the file.";

// A sheet recorded as a worksheet is a dialog sheet when its WSBOOL record says so.
bool IsDialogSheet(const std::vector<std::uint8_t>& stream, std::size_t bofOffset) {
    RecordReader reader(stream, bofOffset);
    Record record;
    for (int n = 0; n < 64 && reader.Next(record); ++n) {
        if (n == 0 && record.id != kBof) return false;
        if (record.id == kEof) return false;
        if (record.id == kWsBool && record.size >= 2) return (stream[record.offset] & 0x10) != 0;
    }
    return false;
}

SheetKind KindOf(unsigned dt) {
    switch (dt) {
        case 1:
            return SheetKind::Macrosheet;
        case 2:
            return SheetKind::Chartsheet;
        case 6:
            return SheetKind::Macrosheet;  // a Visual Basic module of Excel 5/95
        default:
            return SheetKind::Worksheet;
    }
}

SheetVisibility VisibilityOf(unsigned state) {
    switch (state & 0x03) {
        case 1:
            return SheetVisibility::Hidden;
        case 2:
            return SheetVisibility::VeryHidden;
        default:
            return SheetVisibility::Visible;
    }
}

}  // namespace

std::optional<std::vector<ListedSheet>> ListXlsSheets(const std::vector<std::uint8_t>& bytes,
                                                      const std::string& fileName) {
    const std::string notExcel = "it is not an Excel 97-2003 workbook";
    const std::string notExcelAdvice = "Choose an .xls file saved by a spreadsheet application.";
    if (!CompoundFile::HasSignature(bytes)) {
        // An OOXML package or an HTML table with an .xls name: only the spreadsheet application can tell.
        if (bytes.size() >= 4 && bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == 3 && bytes[3] == 4) {
            return std::nullopt;
        }
        throw AutomationError(CannotOpen(fileName, notExcel, notExcelAdvice));
    }
    std::optional<std::vector<std::uint8_t>> stream;
    try {
        CompoundFile file(bytes);
        stream = file.ReadRootStream("Workbook");
        if (!stream) stream = file.ReadRootStream("Book");
        if (!stream && file.ReadRootStream("EncryptionInfo")) {
            throw AutomationError(
                CannotOpen(fileName, "it is password-protected",
                           "Remove the password in a spreadsheet application, save it, and try again."));
        }
    } catch (const std::runtime_error& e) {
        if (dynamic_cast<const AutomationError*>(&e)) throw;
        throw AutomationError(CannotOpen(
            fileName, std::string("it is damaged or truncated (") + e.what() + ")", kDamagedAdvice));
    }
    if (!stream)
        throw AutomationError(
            CannotOpen(fileName, notExcel + " (it holds no workbook stream)", notExcelAdvice));

    RecordReader reader(*stream, 0);
    Record record;
    if (!reader.Next(record) || record.size < 4) {
        throw AutomationError(CannotOpen(
            fileName, "it is damaged or truncated (its workbook stream is empty)", kDamagedAdvice));
    }
    // Excel 2 to 4 files begin with other BOF records; leave those to the spreadsheet application.
    if (record.id != kBof) return std::nullopt;
    const unsigned version = U16(stream->data() + record.offset);
    const unsigned substream = U16(stream->data() + record.offset + 2);
    if ((version != kBiff8 && version != kBiff5) || substream != kGlobals) return std::nullopt;
    const bool biff8 = version == kBiff8;

    unsigned codePage = biff8 ? 1200 : 1252;
    std::vector<ListedSheet> sheets;
    bool ended = false;
    while (reader.Next(record)) {
        const std::uint8_t* data = stream->data() + record.offset;
        if (record.id == kEof) {
            ended = true;
            break;
        }
        // Encrypted records follow; a workbook with only a structure password opens with the default one,
        // which the spreadsheet application handles.
        if (record.id == kFilePass) return std::nullopt;
        if (record.id == kCodePage && record.size >= 2) codePage = U16(data);
        if (record.id != kBoundSheet) continue;
        if (record.size < 7) {
            throw AutomationError(
                CannotOpen(fileName, "it is damaged (a sheet record is too short)", kDamagedAdvice));
        }
        const std::size_t bofOffset = U16(data) | static_cast<std::size_t>(U16(data + 2)) << 16;
        ListedSheet sheet;
        sheet.visibility = VisibilityOf(data[4]);
        sheet.kind = KindOf(data[5]);
        if (sheet.kind == SheetKind::Worksheet && IsDialogSheet(*stream, bofOffset))
            sheet.kind = SheetKind::Dialogsheet;
        const std::size_t length = data[6];
        if (biff8) {
            const bool wide = record.size >= 8 && (data[7] & 0x01) != 0;
            if (8 + length * (wide ? 2 : 1) > record.size) {
                throw AutomationError(
                    CannotOpen(fileName, "it is damaged (a sheet name is cut short)", kDamagedAdvice));
            }
            if (wide) {
                sheet.name = platform::Utf8FromUtf16Le(data + 8, length);
            } else {
                // Compressed strings hold the low bytes of UTF-16 code units, which is ISO 8859-1.
                std::vector<std::uint8_t> units;
                for (std::size_t i = 0; i < length; ++i) units.insert(units.end(), {data[8 + i], 0});
                sheet.name = platform::Utf8FromUtf16Le(units.data(), length);
            }
        } else {
            if (7 + length > record.size) {
                throw AutomationError(
                    CannotOpen(fileName, "it is damaged (a sheet name is cut short)", kDamagedAdvice));
            }
            sheet.name =
                platform::CodePageToUtf8({reinterpret_cast<const char*>(data + 7), length}, codePage);
        }
        sheets.push_back(std::move(sheet));
    }
    if (!ended) {
        throw AutomationError(CannotOpen(
            fileName, "it is damaged or truncated (its workbook records end early)", kDamagedAdvice));
    }
    if (sheets.empty()) {
        throw AutomationError(CannotOpen(fileName, "it is damaged (it lists no sheets)", kDamagedAdvice));
    }
    return sheets;
}

}  // namespace orv::legacy
