// Builds small .xls files byte by byte for the listing tests: a compound file holding a BIFF5 or BIFF8
// workbook stream with chosen BoundSheet records, so every field the listing reads can be set exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orv::libreoffice::test {

struct FixtureSheet {
    std::string nameBytes;   // BIFF8 compressed (Latin-1) or BIFF5 code-page bytes; UTF-16LE when wide
    bool wide = false;       // BIFF8 only: the name is stored as UTF-16LE
    std::uint8_t state = 0;  // 0 visible, 1 hidden, 2 very hidden
    std::uint8_t type = 0;   // 0 worksheet, 1 macro sheet, 2 chart, 6 module
    bool dialog = false;     // a worksheet record whose WSBOOL marks a dialog sheet
};

struct FixtureOptions {
    bool biff5 = false;           // Excel 5/95: stream "Book", byte-string names in `codePage`
    unsigned codePage = 0;        // 0: no CODEPAGE record
    bool filePass = false;        // an encryption record before the sheets
    bool omitGlobalsEof = false;  // the workbook records end without EOF
    std::string streamName;       // default "Workbook" (BIFF8) or "Book" (BIFF5)
};

// The bytes of a workbook stream with those sheets.
std::vector<std::uint8_t> MakeBiffStream(const std::vector<FixtureSheet>& sheets,
                                         const FixtureOptions& options);

// A compound file (512-byte sectors) holding one root stream; streams under 4096 bytes are padded with zeros.
std::vector<std::uint8_t> MakeCompoundFile(const std::string& streamName, std::vector<std::uint8_t> stream);

// Both in one: the bytes of an .xls file.
std::vector<std::uint8_t> MakeXls(const std::vector<FixtureSheet>& sheets,
                                  const FixtureOptions& options = {});

// UTF-16LE bytes of an ASCII or BMP text given as UTF-16 code units.
std::string Utf16Le(const std::u16string& text);

}  // namespace orv::libreoffice::test
