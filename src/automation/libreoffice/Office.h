// The LibreOffice side of the backend, free of UNO types: a private running office and the spreadsheet
// documents loaded into it. UnoOffice.cpp implements it over UNO; NoOffice.cpp stands in when the SDK was not
// found.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace orv::libreoffice {

// One spreadsheet document loaded in the private office. Indexes are 0-based. Every failure is an
// automation::AutomationError whose text says what failed and what to do.
class OfficeDocument {
  public:
    virtual ~OfficeDocument() = default;

    // The names of the document's sheets in order.
    virtual std::vector<std::string> sheetNames() = 0;
    // Whether each sheet is shown (not hidden), in order.
    virtual std::vector<bool> sheetsVisible() = 0;
    // Shows or hides sheet `index`.
    virtual void setSheetVisible(int index, bool visible) = 0;
    // Gives sheet `index` the name `name` (already validated) and fails when the office did not take it.
    virtual void renameSheet(int index, const std::string& name) = 0;
    // Moves sheet `index` so that it stands before the sheet now at `destination` (the count appends).
    virtual void moveSheet(int index, int destination) = 0;
    // Removes sheet `index`.
    virtual void removeSheet(int index) = 0;
    // Inserts a copy of sheet `sourceIndex` of `source` (a document of the same office) at `destination`;
    // returns the copy's index.
    virtual int importSheet(OfficeDocument& source, int sourceIndex, int destination) = 0;
    // Inserts a copy of sheet `index` of this document, named `name`, at `destination`; returns its index.
    virtual int copySheet(int index, const std::string& name, int destination) = 0;
    // The workbook-scoped names of the document with their definitions.
    virtual std::map<std::string, std::string> workbookNames() = 0;
    // After sheet `sourceIndex` of `source` was imported as sheet `index`: gives the copy sheet-scoped names
    // for the source's workbook-scoped names it uses that this document defined differently before
    // (`namesBefore`); returns descriptions of the names whose source meaning could not be kept.
    virtual std::vector<std::string> mendCopiedNames(
        OfficeDocument& source, int sourceIndex, int index,
        const std::map<std::string, std::string>& namesBefore) = 0;
    // After sheet `sourceIndex` of `source` was imported as sheet `index`: gives every copied formula that
    // lost a reference on the way (#REF! where the source names a cell) the value the source cell shows;
    // returns their addresses ("B2") with the source's formulas.
    virtual std::vector<std::pair<std::string, std::string>> keepValuesOfLostReferences(OfficeDocument& source,
                                                                                       int sourceIndex,
                                                                                       int index) = 0;
    // The code of sheet `index`'s own module, without the lines the office adds; "" when it has none.
    virtual std::string sheetCode(int index) = 0;
    // The cell styles used on sheet `index` that this document defines differently from `source`.
    virtual std::vector<std::string> differingCellStyles(OfficeDocument& source, int index) = 0;
    // The addresses ("B2") and formulas of the cells of sheet `index` whose formulas refer to other files,
    // directly or through a name.
    virtual std::vector<std::pair<std::string, std::string>> externalFormulas(int index) = 0;
    // Replaces every formula of sheet `index` that refers to another file by its current value; returns how
    // many.
    virtual int freezeExternalFormulas(int index) = 0;
    // After sheets of `source` were imported together: formulas of sheet `index` that the import made links to
    // one of `copies` (source sheet name -> copy name) in the source file name the copies here again; returns
    // how many changed.
    virtual int relinkToCopies(OfficeDocument& source, int index,
                               const std::vector<std::pair<std::string, std::string>>& copies) = 0;
    // Writes the document in its own format to `path`, a new file; the document's own file is not touched
    // (LibreOffice writes a file in place, so the caller puts the new one in place whole). False, with nothing
    // written, for a format LibreOffice writes only over the file it came from (Excel 5/95).
    virtual bool storeTo(const std::string& path) = 0;
    // Writes the document over its own file, in place.
    virtual void store() = 0;
    // Closes the document, discarding unsaved changes; never fails.
    virtual void close() noexcept = 0;
};

// A private, headless office instance with its own profile, reached through a private pipe.
class Office {
  public:
    virtual ~Office() = default;

    // Loads the workbook at `path` (hidden, macros off, links not updated). Throws with a clear description
    // when it cannot be loaded, or, unless `readOnly`, when it would only open read-only.
    virtual std::unique_ptr<OfficeDocument> Load(const std::string& path, bool readOnly) = 0;
    // A new hidden workbook holding one empty sheet, whose storeTo writes it with the export filter `filter`
    // ("MS Excel 97", "calc8", ...). `path` names it in descriptions only: nothing is written.
    virtual std::unique_ptr<OfficeDocument> Create(const std::string& path, const std::string& filter) = 0;
    // Ends the office; kills it when it does not end by itself. Never fails; calling it again does nothing.
    virtual void Quit() noexcept = 0;
};

// True when this build can drive LibreOffice; otherwise `why` says what is missing.
bool OfficeBridgeAvailable(std::string* why);

// Starts a private office; throws AutomationError with a clear description when it cannot.
std::unique_ptr<Office> StartOffice();

}  // namespace orv::libreoffice
