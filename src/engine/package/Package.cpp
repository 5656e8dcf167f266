// The package: parts on demand, changes in memory and their way back to a checkpoint, raw-copy save.
#include "engine/package/Package.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "engine/EngineError.h"
#include "engine/package/FileSniff.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::engine {

std::unique_ptr<Package> Package::Open(const std::string& path, InflateLimits limits) {
    const std::string displayName = platform::FileNameOf(path);
    CheckLooksLikePackage(path, displayName);
    auto zip = std::make_unique<ZipReader>(path, displayName, limits);
    std::unique_ptr<Package> package(new Package(path, std::move(zip)));
    if (const auto identity = platform::IdentityOf(path)) package->m_identity = *identity;
    return package;
}

std::unique_ptr<Package> Package::Create(const std::string& path) {
    std::unique_ptr<Package> package(new Package(path, std::make_unique<ZipReader>(platform::FileNameOf(path))));
    package->m_new = true;
    package->m_changed = true;
    return package;
}

Package::Package(std::string path, std::unique_ptr<ZipReader> zip)
    : m_path(std::move(path)), m_displayName(zip->displayName()), m_zip(std::move(zip)) {
    for (const auto& entry : m_zip->entries()) {
        auto part = std::make_unique<Part>();
        part->name = entry.name;
        part->entry = &entry;
        m_byKey[PartKey(entry.name)] = part.get();
        m_parts.push_back(std::move(part));
    }
}

void Package::ReadAgainAfterSave() {
    std::unique_ptr<ZipReader> fresh;
    try {
        fresh = std::make_unique<ZipReader>(m_path, m_displayName, m_zip->limits());
    } catch (const EngineError&) {
        // The save itself stands (or failed for its own reason); a later read says the file cannot be read.
        return;
    }
    std::unordered_map<std::string, const ZipEntry*> byName;
    for (const auto& entry : fresh->entries()) byName.emplace(entry.name, &entry);
    for (auto& part : m_parts) {
        if (!part->entry) continue;
        const auto it = byName.find(part->name);
        part->entry = it == byName.end() ? nullptr : it->second;
    }
    m_zip = std::move(fresh);
}

// A part as it was at a checkpoint. Its contents are only moved here when a change is about to replace them,
// so that a checkpoint copies nothing but the documents that hold unsaved changes and are handed out again.
struct Package::Before {
    Part* part = nullptr;
    unsigned journaledBefore = 0;
    Before* previous = nullptr;
    // A part added since: it goes, and the removed part of the same name it hid (if any) is found again.
    bool added = false;
    std::string key;
    Part* hidden = nullptr;

    bool removed = false;
    bool docChanged = false;
    std::string afterDeclaration;
    const pugi::xml_document* doc = nullptr;      // the document object it had, if parsed
    bool handedOut = false;                       // since the checkpoint, so its content may have changed
    std::unique_ptr<pugi::xml_document> changes;  // that content, when it held unsaved changes
    bool setAside = false;
    std::optional<std::string> bytes;
    std::optional<DeflatedPart> deflated;
    std::unique_ptr<pugi::xml_document> takenDoc;
};

Package::~Package() = default;

Package::Checkpoint Package::TakeCheckpoint() {
    Checkpoint at;
    at.generation = ++m_generations;
    at.journalAt = m_journal.size();
    at.saves = m_saves;
    at.changed = m_changed;
    m_open.push_back(at.generation);
    return at;
}

Package::Before* Package::Journal(Part* p, bool handOut) {
    if (m_open.empty()) return nullptr;
    // Generations only grow: an entry made since the innermost checkpoint (or in one kept inside it) already
    // holds the part as it was then.
    if (p->journaled >= m_open.back()) return p->before;
    auto& before = *m_journal.emplace_back(std::make_unique<Before>());
    before.part = p;
    before.journaledBefore = p->journaled;
    before.previous = p->before;
    before.removed = p->removed;
    before.docChanged = p->docChanged;
    before.afterDeclaration = p->afterDeclaration;
    before.doc = p->doc.get();
    before.handedOut = handOut;
    if (handOut && p->doc && p->docChanged) {
        // The caller may change it in place, and its unsaved changes are not written anywhere else.
        before.changes = std::make_unique<pugi::xml_document>();
        before.changes->reset(*p->doc);
    }
    p->journaled = m_open.back();
    p->before = &before;
    return &before;
}

void Package::SetAside(Part* p) {
    Before* before = Journal(p, false);
    if (!before || before->setAside || before->added) return;
    before->setAside = true;
    before->bytes = std::move(p->bytes);
    before->deflated = std::move(p->deflated);
    before->takenDoc = std::move(p->doc);
    p->bytes.reset();
    p->deflated.reset();
}

void Package::Restore(Before& before) {
    Part* p = before.part;
    p->journaled = before.journaledBefore;
    p->before = before.previous;
    if (before.added) {
        // Parts are only ever appended, and undone last first: this one is the last.
        if (before.hidden)
            m_byKey[before.key] = before.hidden;
        else
            m_byKey.erase(before.key);
        if (!m_parts.empty() && m_parts.back().get() == p) m_parts.pop_back();
        return;
    }
    if (before.setAside) {
        p->bytes = std::move(before.bytes);
        p->deflated = std::move(before.deflated);
        p->doc = std::move(before.takenDoc);
    }
    p->removed = before.removed;
    p->docChanged = before.docChanged;
    p->afterDeclaration = before.afterDeclaration;
    if (!before.doc || p->doc.get() != before.doc) {
        p->doc.reset();  // parsed since (or lost): parsed again from the restored bytes when asked for
        return;
    }
    if (before.changes) {
        p->doc->reset(*before.changes);
    } else if (before.handedOut) {
        // Unchanged at the checkpoint, so its bytes say what it held; the object stays for whoever holds it.
        try {
            ParseXml(*p->doc, Read(p->name), p->name, m_displayName);
        } catch (...) {
            p->doc.reset();
        }
    }
}

void Package::DiscardSince(const Checkpoint& checkpoint) {
    const auto open = std::find(m_open.begin(), m_open.end(), checkpoint.generation);
    if (checkpoint.saves != m_saves) {
        throw EngineError("The changes to \"" + m_displayName +
                          "\" cannot be taken back: they were saved since.");
    }
    if (open == m_open.end()) {
        throw EngineError("The changes to \"" + m_displayName +
                          "\" cannot be taken back: their checkpoint was already kept or discarded.");
    }
    while (m_journal.size() > checkpoint.journalAt) {
        Restore(*m_journal.back());
        m_journal.pop_back();
    }
    m_open.erase(open, m_open.end());
    m_changed = checkpoint.changed;
}

void Package::KeepSince(const Checkpoint& checkpoint) {
    const auto open = std::find(m_open.begin(), m_open.end(), checkpoint.generation);
    if (open == m_open.end()) return;
    m_open.erase(open, m_open.end());
    // An enclosing checkpoint still needs the entries; with none open, nothing can go back any more.
    if (m_open.empty()) m_journal.clear();
}

PackageCheckpointGuard::~PackageCheckpointGuard() {
    if (m_kept) return;
    try {
        m_package.DiscardSince(m_at);
    } catch (...) {
        // Saved meanwhile: the file holds the changes, and the package says what the file holds.
    }
}

void PackageCheckpointGuard::Keep() {
    m_kept = true;
    m_package.KeepSince(m_at);
}

Package::Part* Package::Find(const std::string& part) {
    auto it = m_byKey.find(PartKey(part));
    return it == m_byKey.end() || it->second->removed ? nullptr : it->second;
}

const Package::Part* Package::Find(const std::string& part) const {
    auto it = m_byKey.find(PartKey(part));
    return it == m_byKey.end() || it->second->removed ? nullptr : it->second;
}

std::string Package::MissingPart(const std::string& part) const {
    return "\"" + m_displayName + "\" is damaged: its part \"" + part +
           "\" is missing. Open the file in the spreadsheet application to repair it.";
}

bool Package::Has(const std::string& part) const { return Find(part) != nullptr; }

bool Package::Removed(const std::string& part) const {
    auto it = m_byKey.find(PartKey(part));
    return it != m_byKey.end() && it->second->removed;
}

std::optional<std::string> Package::Spelling(const std::string& part) const {
    const Part* p = Find(part);
    if (!p) return std::nullopt;
    return p->name;
}

std::string Package::Read(const std::string& part) const {
    const Part* p = Find(part);
    if (!p) throw EngineError(MissingPart(part));
    if (p->docChanged) return SerializeXml(*p->doc, p->afterDeclaration);
    if (p->bytes) return *p->bytes;
    if (p->deflated) return Inflate(*p->deflated);
    return m_zip->Read(*p->entry);
}

void Package::ReadInPieces(const std::string& part, const std::function<void(std::string_view)>& piece) const {
    const Part* p = Find(part);
    if (!p) throw EngineError(MissingPart(part));
    if (p->docChanged || p->bytes || p->deflated) {
        piece(Read(part));
        return;
    }
    m_zip->ReadInPieces(*p->entry, piece);
}

std::string Package::ReadStart(const std::string& part, std::size_t bytes) const {
    const Part* p = Find(part);
    if (!p) throw EngineError(MissingPart(part));
    if (p->docChanged || p->bytes || p->deflated) return Read(part).substr(0, bytes);
    return m_zip->ReadStart(*p->entry, bytes);
}

std::optional<DeflatedPart> Package::ReadDeflated(const std::string& part) const {
    const Part* p = Find(part);
    if (!p) throw EngineError(MissingPart(part));
    if (p->docChanged || p->bytes || p->deflated || !p->entry) return std::nullopt;
    return m_zip->ReadDeflated(*p->entry);
}

std::unique_ptr<ArrivingEntry> Package::ReadArriving(const std::string& part, std::uint64_t atLeast) const {
    const Part* p = Find(part);
    if (!p) throw EngineError(MissingPart(part));
    if (p->docChanged || p->bytes || p->deflated || !p->entry || p->entry->size < atLeast) return nullptr;
    try {
        return m_zip->ReadArriving(*p->entry);
    } catch (const std::system_error&) {
        return nullptr;
    }
}

pugi::xml_document& Package::Xml(const std::string& part) {
    Part* p = Find(part);
    if (!p) throw EngineError(MissingPart(part));
    Journal(p, true);
    if (!p->doc) {
        auto doc = std::make_unique<pugi::xml_document>();
        const std::string bytes = Read(part);
        ParseXml(*doc, bytes, p->name, m_displayName);
        p->afterDeclaration = WhitespaceAfterDeclaration(bytes);
        p->doc = std::move(doc);
    }
    return *p->doc;
}

void Package::MarkChanged(const std::string& part) {
    Part* p = Find(part);
    if (!p || !p->doc) return;
    Journal(p, true);
    p->docChanged = true;
    m_changed = true;
}

Package::Part* Package::FindOrAdd(const std::string& part) {
    Part* p = Find(part);
    if (!p) {
        auto fresh = std::make_unique<Part>();
        fresh->name = !part.empty() && part.front() == '/' ? part.substr(1) : part;
        p = fresh.get();
        const std::string key = PartKey(part);
        Part*& slot = m_byKey[key];
        Part* hidden = slot;
        slot = p;  // replaces a removed part of the same name
        m_parts.push_back(std::move(fresh));
        if (Before* before = Journal(p, false)) {
            before->added = true;
            before->key = key;
            before->hidden = hidden;
        }
    }
    return p;
}

void Package::Write(const std::string& part, std::string bytes) {
    Part* p = FindOrAdd(part);
    SetAside(p);
    p->bytes = std::move(bytes);
    p->deflated.reset();
    p->doc.reset();
    p->docChanged = false;
    m_changed = true;
}

void Package::WriteDeflated(const std::string& part, DeflatedPart deflated) {
    Part* p = FindOrAdd(part);
    SetAside(p);
    p->deflated = std::move(deflated);
    p->bytes.reset();
    p->doc.reset();
    p->docChanged = false;
    m_changed = true;
}

void Package::Remove(const std::string& part) {
    Part* p = Find(part);
    if (!p) return;
    SetAside(p);
    p->removed = true;
    p->doc.reset();
    p->bytes.reset();
    p->deflated.reset();
    m_changed = true;
}

std::vector<std::string> Package::PartNames() const {
    std::vector<std::string> names;
    for (const auto& p : m_parts) {
        if (!p->removed && !p->name.empty() && p->name.back() != '/') names.push_back(p->name);
    }
    return names;
}

bool Package::changed() const { return m_changed; }

bool Package::Untouched(const std::string& part) const {
    const Part* p = Find(part);
    return p && p->entry && !p->bytes && !p->deflated && !p->docChanged;
}

void Package::Save(const std::string& path) {
    std::vector<ZipOutEntry> entries;
    std::deque<std::string> serialized;
    for (const auto& p : m_parts) {
        if (p->removed) continue;
        ZipOutEntry out;
        out.name = p->name;
        if (p->docChanged) {
            out.bytes = serialized.emplace_back(SerializeXml(*p->doc, p->afterDeclaration));
        } else if (p->bytes) {
            out.bytes = *p->bytes;
        } else if (p->deflated) {
            out.deflated = &*p->deflated;
        } else {
            out.rawFrom = p->entry;
        }
        entries.push_back(std::move(out));
    }
    const bool own = path == m_path;
    const std::string failed = "\"" + m_displayName + "\" could not be saved: ";
    const auto identity = own ? platform::IdentityOf(path) : std::nullopt;
    if (own && m_new && identity) {
        throw EngineError(failed + "a file of that name was made by another program meanwhile. Nothing was "
                                   "written; choose another name.");
    }
    if (own && !m_new) {
        if (!identity) {
            throw EngineError(failed + "the file was deleted or moved since it was opened. Nothing was written; open "
                                       "it again where it is now.");
        }
        if (identity->directory) {
            throw EngineError(failed + "a folder now stands where the file was. Nothing was written.");
        }
        if (!identity->SameFile(m_identity)) {
            throw EngineError(failed + "another program replaced the file since it was opened, and saving would undo "
                                       "its changes. Nothing was written; open the file again, then repeat the "
                                       "operation.");
        }
    }
    // Where the file being replaced cannot stay open (Windows), the package lets go of it and reads the saved file
    // from then on: its parts hold the same bytes.
    bool letGo = false;
    try {
        platform::ReplaceFileAtomically(
            path, [&](int fd) { return WriteZip(*m_zip, entries, fd); }, platform::FileNameOf(path),
            [&] {
                if (!own) return;
                m_zip->ReleaseFile();
                letGo = true;
            });
    } catch (...) {
        if (letGo) ReadAgainAfterSave();  // the old file is still there
        throw;
    }
    if (letGo) ReadAgainAfterSave();
    if (own) m_new = false;
    m_changed = false;
    // The file now holds the changes: taking them back in memory would make the package lie about it.
    ++m_saves;
    m_open.clear();
    m_journal.clear();
    if (const auto saved = own ? platform::IdentityOf(path) : std::nullopt) m_identity = *saved;
}

}  // namespace orv::engine
