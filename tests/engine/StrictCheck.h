// A strict reader's view of a workbook package, independent of the engine's own (lenient) parser: every XML
// part parsed with its namespaces bound (libxml2), and the parts of SpreadsheetML, DrawingML and the extended
// properties validated against the ECMA-376 transitional schemas after markup-compatibility processing.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace orv::engine::test {

// Every XML part of the package at `path` that a namespace-aware parser refuses or warns about (an unbound
// prefix, a duplicate attribute, a malformed name...), one sentence each naming the part; empty when all
// parse.
std::vector<std::string> NamespaceProblems(const std::string& path);

// The schema errors of each part that has a schema (worksheets, workbook, styles, shared strings, tables,
// comments, pivots, external links, spreadsheet drawings, charts, docProps/app.xml), by part name; parts
// without errors are present with an empty list.
std::map<std::string, std::vector<std::string>> SchemaErrors(const std::string& path);

// What an operation broke in `after`, judged against the packages it came from (`before`: the workbook(s) the
// operation read): every namespace problem of `after`; every schema error of a part of `after` that is not
// also an error of the same part (or, for a part the operation added, of a part of the same kind) in
// `before`. Errors compare without their line numbers. A part counts as added when some package of `before`
// lacks its name (a copy may name the sheet it brings like an unrelated part of its source); its kind is the
// local name of its root element. Empty when the operation broke nothing.
std::vector<std::string> StrictRegressions(const std::vector<std::string>& before, const std::string& after);

// One finding of the strict reader. The line is kept apart from the message so that the same fault compares
// equal in two versions of a part whose lines moved.
struct StrictFinding {
    std::string message;
    int line = 0;
    bool operator==(const StrictFinding&) const = default;
};

// One part as the strict reader saw it.
struct StrictPart {
    bool vml = false;  // judged for its namespaces only: legacy VML is often not well-formed by design
    std::vector<StrictFinding> namespaceProblems;
    bool validated = false;  // its root element has a schema at hand
    std::string root;        // local name of the root element; empty when the part did not parse
    std::vector<StrictFinding> schemaErrors;
};

// A whole package as the strict reader saw it, by part name: kept so that a package an operation is about to
// overwrite can still serve as its own `before`.
struct StrictView {
    std::map<std::string, StrictPart> parts;
};

// Reads and judges every XML part (.xml, .rels, .vml) of the package at `path`. Throws std::runtime_error
// when the file is not a zip or a part of it cannot be inflated.
StrictView StrictlyRead(const std::string& path);

// StrictRegressions on packages read beforehand.
std::vector<std::string> StrictRegressions(const std::vector<StrictView>& before, const std::string& after);

}  // namespace orv::engine::test
