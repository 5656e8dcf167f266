// Recognises encrypted and legacy workbooks, which are OLE compound files, and other non-packages.
#include "engine/package/FileSniff.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/EngineError.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::engine {

namespace {

bool ContainsUtf16(const std::string& bytes, const char* ascii) {
    std::string wide;
    for (const char* c = ascii; *c; ++c) {
        wide += *c;
        wide += '\0';
    }
    return bytes.find(wide) != std::string::npos;
}

}  // namespace

void CheckLooksLikePackage(const std::string& path, const std::string& displayName) {
    // Opened as the package itself is read: a file another program holds for a moment is waited for, and one it
    // keeps is named as open there.
    const platform::RandomAccessFile file(path, displayName);
    std::string head = platform::ReadStart(file, 8);
    if (head.empty()) throw EngineError("\"" + displayName + "\" is empty (0 bytes); it is not a workbook.");
    if (head.size() >= 4 && head.compare(0, 2, "PK") == 0) return;
    static const char kOle[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    if (head.size() >= 8 && std::memcmp(head.data(), kOle, 8) == 0) {
        // The directory of an OLE compound file may lie anywhere; look through the first few megabytes.
        head = platform::ReadStart(file, 8u << 20);
        if (ContainsUtf16(head, "EncryptedPackage") || ContainsUtf16(head, "EncryptionInfo")) {
            throw EngineError("\"" + displayName +
                              "\" is password-protected. Remove the password in the spreadsheet application "
                              "(save it without a password to open), then try again.");
        }
        if (ContainsUtf16(head, "Workbook") || ContainsUtf16(head, "Book")) {
            throw EngineError(
                "\"" + displayName +
                "\" is a legacy Excel 97-2003 workbook (.xls) with the wrong file extension. Rename it "
                "to .xls, or save it as .xlsx in the spreadsheet application.");
        }
        throw EngineError("\"" + displayName + "\" is an OLE compound document, not a workbook.");
    }
    throw EngineError("\"" + displayName +
                      "\" is not a workbook: it is not a zip package as .xlsx files are.");
}

}  // namespace orv::engine
