// An open OOXML package: its parts read on demand from the zip, changed in memory, and written back as a new
// package in which every untouched entry keeps its compressed bytes; changes since a checkpoint can be
// discarded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "engine/package/Zip.h"
#include "platform/Files.h"

namespace orv::engine {

class Package {
  public:
    // Opens the package at `path`; throws EngineError saying what the file is when it is not a readable
    // package (not a zip, a password-protected or legacy workbook, truncated, duplicate entries...).
    static std::unique_ptr<Package> Open(const std::string& path, InflateLimits limits = {});
    // A package without parts that its first save writes to `path`, which must not exist then.
    static std::unique_ptr<Package> Create(const std::string& path);
    ~Package();

    const std::string& path() const { return m_path; }
    // The file name, for messages.
    const std::string& displayName() const { return m_displayName; }

    // True when the part exists (and was not removed).
    bool Has(const std::string& part) const;
    // The part's bytes; throws EngineError when it is missing or cannot be read.
    std::string Read(const std::string& part) const;
    // The same bytes handed to `piece` in order, a megabyte at a time where the part is still in the file.
    void ReadInPieces(const std::string& part, const std::function<void(std::string_view)>& piece) const;
    // The first `bytes` bytes of the part (all of a shorter one), without reading the rest where it is still in
    // the file; not checked against the part's checksum, which needs the whole.
    std::string ReadStart(const std::string& part, std::size_t bytes) const;
    // A large part as it is in the file, inflated on a thread of its own while the caller follows it (see
    // ArrivingEntry: nothing else may be read from the package meanwhile); nullptr for a part of under
    // `atLeast` bytes, one changed since opening, or when no thread can be had. Throws EngineError for a
    // missing part.
    std::unique_ptr<ArrivingEntry> ReadArriving(const std::string& part, std::uint64_t atLeast) const;
    // The part's compressed bytes as the file holds them, for another package to store unchanged; nullopt for
    // a part changed since opening or not deflated in the file. Throws EngineError when they cannot be read.
    std::optional<DeflatedPart> ReadDeflated(const std::string& part) const;
    // The part parsed as XML, cached; throws EngineError when it is missing or not acceptable XML.
    pugi::xml_document& Xml(const std::string& part);
    // Records that the document returned by Xml(part) was changed, so that it is written on save.
    void MarkChanged(const std::string& part);
    // Replaces or adds a part with these bytes (a new part goes at the end of the package).
    void Write(const std::string& part, std::string bytes);
    // Replaces or adds a part with bytes compressed ahead (see Deflate), which the save stores as they are.
    void WriteDeflated(const std::string& part, DeflatedPart deflated);
    // Removes a part. Its relationships part and content type override are the caller's business.
    void Remove(const std::string& part);
    // True when the package had the part and it was removed since.
    bool Removed(const std::string& part) const;
    // The current part names, in package order.
    std::vector<std::string> PartNames() const;
    // The part's name as spelled in the package, for a name in any case; nullopt when missing.
    std::optional<std::string> Spelling(const std::string& part) const;
    // True when a part was changed, added or removed since the package was opened or last saved.
    bool changed() const;
    // Whether the stored bytes of the part are still the original ones.
    bool Untouched(const std::string& part) const;

    // Writes the package to `path` (atomically, see AtomicFile.h); throws EngineError and leaves the file as
    // it was on any failure, and when `path` is the package's own file but that file was deleted, moved or
    // replaced since it was opened. A save that writes ends every open checkpoint.
    void Save(const std::string& path);

    // Bytes of the file read so far: the zip directory and every part read.
    std::uint64_t bytesRead() const { return m_zip->bytesRead(); }

    // A point the package can go back to, in the manner of zip_unchange_all: each part is kept as it was
    // before its first change after the point. Checkpoints nest; a save ends every open one.
    struct Checkpoint {
        unsigned generation = 0;
        std::size_t journalAt = 0;
        unsigned saves = 0;
        bool changed = false;
    };
    // Starts a checkpoint here; never fails.
    Checkpoint TakeCheckpoint();
    // Puts the package back as it was at `checkpoint`: parts written, added, removed or marked changed, and
    // the documents Xml() handed out since (the document objects stay; one first parsed since is parsed again
    // when next asked for), so that a save writes what it would have written then. Checkpoints taken since
    // end with it. A document changed without MarkChanged counts as unchanged. Throws EngineError, changing
    // nothing, when the package was saved since or the checkpoint was already kept or discarded.
    void DiscardSince(const Checkpoint& checkpoint);
    // Ends `checkpoint` keeping the changes since (an enclosing checkpoint can still discard them); one
    // already ended is ignored.
    void KeepSince(const Checkpoint& checkpoint);

  private:
    struct Before;  // a part as it was at a checkpoint (Package.cpp)
    struct Part {
        std::string name;
        const ZipEntry* entry = nullptr;
        std::optional<std::string> bytes;
        std::optional<DeflatedPart> deflated;
        std::unique_ptr<pugi::xml_document> doc;
        std::string afterDeclaration;
        bool docChanged = false;
        bool removed = false;
        unsigned journaled = 0;    // the generation of the checkpoint whose journal holds it as it was
        Before* before = nullptr;  // that journal entry, the latest of the part's
    };
    Package(std::string path, std::unique_ptr<ZipReader> zip);
    Part* Find(const std::string& part);
    Part* FindOrAdd(const std::string& part);
    const Part* Find(const std::string& part) const;
    std::string MissingPart(const std::string& part) const;
    // Reads the package's own file again after a save that let go of it: its parts now come from there.
    void ReadAgainAfterSave();
    // Keeps `p` as it is in the journal of the innermost open checkpoint, unless it is there already;
    // `handOut` when its document is about to be given to a caller who may change it.
    Before* Journal(Part* p, bool handOut);
    // Moves the part's contents into its journal entry, when the entry does not hold them yet, before a
    // change replaces them.
    void SetAside(Part* p);
    void Restore(Before& before);

    std::string m_path;
    std::string m_displayName;
    std::unique_ptr<ZipReader> m_zip;
    std::vector<std::unique_ptr<Part>> m_parts;
    std::map<std::string, Part*> m_byKey;
    bool m_changed = false;
    std::vector<std::unique_ptr<Before>> m_journal;
    std::vector<unsigned> m_open;  // the generations of the open checkpoints, innermost last
    unsigned m_generations = 0;
    unsigned m_saves = 0;
    // The file at m_path when it was opened (or last saved), so that a save never overwrites a file that
    // someone else wrote, moved or deleted meanwhile.
    platform::FileIdentity m_identity;
    bool m_new = false;  // made by Create and not saved yet
};

// Discards the package's changes made during its life unless Keep() was called: a change of several steps
// either happens whole or leaves the package as it found it.
class PackageCheckpointGuard {
  public:
    explicit PackageCheckpointGuard(Package& package) : m_package(package), m_at(package.TakeCheckpoint()) {}
    // Never throws: a package that cannot be put back (saved meanwhile) stays as it is.
    ~PackageCheckpointGuard();
    PackageCheckpointGuard(const PackageCheckpointGuard&) = delete;
    PackageCheckpointGuard& operator=(const PackageCheckpointGuard&) = delete;
    // Keeps the changes; never fails.
    void Keep();

  private:
    Package& m_package;
    Package::Checkpoint m_at;
    bool m_kept = false;
};

}  // namespace orv::engine
