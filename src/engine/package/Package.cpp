// The package: parts on demand, changes in memory, raw-copy save.
#include "engine/package/Package.h"


#include <deque>
#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "engine/package/FileSniff.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"
#include "engine/system/AtomicFile.h"
#include "engine/system/EngineError.h"
#include "engine/system/Files.h"
#include "engine/system/Paths.h"

namespace orv::engine {

std::unique_ptr<Package> Package::Open(const std::string& path, InflateLimits limits) {
    const std::string displayName = FileNameOf(path);
    CheckLooksLikePackage(path, displayName);
    auto zip = std::make_unique<ZipReader>(path, displayName, limits);
    std::unique_ptr<Package> package(new Package(path, std::move(zip)));
    if (const auto identity = IdentityOf(path)) package->m_identity = *identity;
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
    p->docChanged = true;
    m_changed = true;
}

Package::Part* Package::FindOrAdd(const std::string& part) {
    Part* p = Find(part);
    if (!p) {
        auto fresh = std::make_unique<Part>();
        fresh->name = !part.empty() && part.front() == '/' ? part.substr(1) : part;
        p = fresh.get();
        m_byKey[PartKey(part)] = p;  // replaces a removed part of the same name
        m_parts.push_back(std::move(fresh));
    }
    return p;
}

void Package::Write(const std::string& part, std::string bytes) {
    Part* p = FindOrAdd(part);
    p->bytes = std::move(bytes);
    p->deflated.reset();
    p->doc.reset();
    p->docChanged = false;
    m_changed = true;
}

void Package::WriteDeflated(const std::string& part, DeflatedPart deflated) {
    Part* p = FindOrAdd(part);
    p->deflated = std::move(deflated);
    p->bytes.reset();
    p->doc.reset();
    p->docChanged = false;
    m_changed = true;
}

void Package::Remove(const std::string& part) {
    Part* p = Find(part);
    if (!p) return;
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
    const auto identity = own ? IdentityOf(path) : std::nullopt;
    if (own && !identity) {
        throw EngineError(failed + "the file was deleted or moved since it was opened. Nothing was written; open "
                                   "it again where it is now.");
    }
    if (own && identity->directory) {
        throw EngineError(failed + "a folder now stands where the file was. Nothing was written.");
    }
    if (own && !identity->SameFile(m_identity)) {
        throw EngineError(failed + "another program replaced the file since it was opened, and saving would undo "
                                   "its changes. Nothing was written; open the file again, then repeat the "
                                   "operation.");
    }
    // Where the file being replaced cannot stay open (Windows), the package lets go of it and reads the saved file
    // from then on: its parts hold the same bytes.
    bool letGo = false;
    try {
        ReplaceFileAtomically(
            path, [&](int fd) { return WriteZip(*m_zip, entries, fd); }, FileNameOf(path),
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
    m_changed = false;
    if (const auto saved = own ? IdentityOf(path) : std::nullopt) m_identity = *saved;
}

}  // namespace orv::engine
