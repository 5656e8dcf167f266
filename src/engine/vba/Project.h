// The macro project of a workbook (its vbaProject.bin): read, changed a module at a time, and written back so
// that the application compiles it again from the source of its modules when it opens the workbook.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compound/CompoundFile.h"

namespace orv::engine::vba {

// One module as the project's directory lists it.
struct Module {
    std::string name;        // UTF-8
    std::string streamName;  // UTF-8: the stream of the VBA storage holding it
    std::uint32_t textOffset = 0;
    bool procedural = false;  // a standard module, not a document, class or form module
    bool document = false;    // the module of the workbook or of one of its sheets
    std::string records;      // its records in the directory, as read
};

class Project {
  public:
    // Reads the project in `bytes`, the part of the workbook named `workbookName`; throws EngineError saying
    // what is damaged, before anything is changed.
    static Project Read(std::string_view bytes, const std::string& workbookName);
    // A project holding only the module of the workbook named `workbookCodeName`, compiled against the same
    // libraries, code page and constants as `like`, for a workbook that has none yet.
    static Project NewLike(const Project& like, const std::string& workbookCodeName);
    // A project holding only the module of the workbook named `workbookCodeName`, in `codePage`, referring
    // to no library.
    static Project New(unsigned codePage, const std::string& workbookCodeName,
                       const std::string& projectName = "VBAProject");

    // The bytes of the project as it is now.
    std::string Write() const;

    unsigned codePage() const { return m_codePage; }
    const std::vector<Module>& modules() const { return m_modules; }
    // The module named `name` (ignoring case, as the language does), or nullptr.
    const Module* Find(std::string_view name) const;
    // True when `name` would clash with a module or a stream of the project.
    bool Taken(std::string_view name) const;
    // The module's source, in the project's code page; throws EngineError when its stream is missing or
    // damaged.
    std::string Source(const Module& module) const;
    // True when a module's source holds code: a line that is neither blank nor an attribute.
    static bool HoldsCode(std::string_view source);
    // The source of a module of the workbook named `codeName`, as a project for it must hold it.
    static std::string WorkbookModuleSource(const std::string& codeName);

    // The source of `module` of `from` in this project's code page, or nullopt when the code page cannot hold
    // every character of it. Throws EngineError as Source does.
    std::optional<std::string> SourceFrom(const Project& from, const Module& module) const;
    // Adds `module` of `from` (which may be this project) as a document module named `name`, its source
    // converted to this project's code page and its name attribute made `name`. Throws EngineError when the
    // code page cannot hold the source or the name.
    void AddDocumentModule(const Project& from, const Module& module, const std::string& name);
    // Adds a document module named `name` holding `source` (in this project's code page; its name attribute is
    // made `name`). Throws EngineError when the code page cannot hold the name.
    void AddDocumentModule(const std::string& name, std::string source);
    // Removes the module named `name` and everything that lists it; no module of that name is not an error.
    void RemoveModule(std::string_view name);

  private:
    Project() = default;
    // A project with the directory records `head` before its module list, and the workbook's module.
    static Project Made(unsigned codePage, std::string head, const std::string& quotedName,
                        const std::string& workbookCodeName);
    void AddDocument(const std::string& name, std::string source, const std::string& likeRecords);
    // Adds a document module (`mbcs`: its name in the project's code page) with its stream.
    void AddModule(Module module, const std::string& mbcs, std::string streamBytes);
    compound::Entry& Storage();
    const compound::Entry& Storage() const;

    compound::Entry m_root;
    std::string m_workbookName;
    unsigned m_codePage = 1252;
    std::string m_head;            // the directory's records before the modules
    std::size_t m_countAt = 0;     // where the module count stands in m_head
    std::string m_tail;            // the directory's records after them
    std::vector<Module> m_modules;
};

}  // namespace orv::engine::vba
