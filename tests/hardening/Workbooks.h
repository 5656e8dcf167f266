// Generated workbooks for the hardening tests: a small good one, a large one, and a corpus of hostile and
// malformed files, all built in code.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace orv::hardening {

using Parts = std::vector<std::pair<std::string, std::string>>;  // part name, content, in package order

// A good workbook with worksheets Data, Other and Last, shared strings, styles, a defined name and app.xml.
Parts GoodParts();
// `parts` with part `name` given `content` (added at the end when missing); an empty content removes it.
Parts WithPart(Parts parts, const std::string& name, const std::string& content);
// The zip bytes of `parts`.
std::string ZipParts(const Parts& parts);
// GoodParts() as a file's bytes.
std::string GoodWorkbook();
// A workbook of about `megabytes` MB whose sheets are full of numbers (deflated parts).
std::string LargeWorkbook(int megabytes);

struct HostileFile {
    std::string label;  // unique, letters, digits and '_'
    std::function<std::string()> make;  // the file's bytes, made on demand (some are large)
    // True when no command may succeed on it (it is not a workbook the engine may change); otherwise a command
    // may succeed as long as what it writes opens again.
    bool mustRefuse = true;
    std::string extension = ".xlsx";
};

// The hostile corpus. `fixtures` is the folder of the project's OOXML fixtures (for the encrypted and legacy
// files that cannot be made in a few lines).
std::vector<HostileFile> HostileFiles(const std::string& fixtures);

}  // namespace orv::hardening
