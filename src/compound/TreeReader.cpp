// Reads a whole compound file into a tree of entries: storages walked with a stack of their own, every stream
// read once, no sector read for two streams, so the tree is never larger than the file.
#include "compound/CompoundFile.h"
#include "compound/Format.h"
#include "compound/SectorReader.h"

namespace orv::compound {

using namespace format;

namespace {

void Describe(Entry& entry, const detail::DirectoryEntry& stored) {
    entry.name = stored.name;
    entry.storage = stored.type != kTypeStream;
    entry.clsid = stored.clsid;
    entry.stateBits = stored.stateBits;
    entry.created = stored.created;
    entry.modified = stored.modified;
}

}  // namespace

Entry ReadTree(const std::vector<std::uint8_t>& bytes) {
    const detail::SectorReader reader(bytes);
    const auto& stored = reader.entries();
    detail::Claims claims = reader.tableClaims();
    std::vector<bool> reached(stored.size(), false);
    reached[0] = true;

    Entry root;
    Describe(root, stored[0]);
    struct Pending {
        Entry* storage;
        std::uint32_t id;
        std::size_t depth;
    };
    // A storage's children are sized once before their addresses are taken, so the pointers stay valid.
    std::vector<Pending> pending{{&root, 0, 0}};
    while (!pending.empty()) {
        const Pending storage = pending.back();
        pending.pop_back();
        const auto ids = reader.Children(storage.id, reached);
        storage.storage->children.resize(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i) {
            Entry& child = storage.storage->children[i];
            Describe(child, stored[ids[i]]);
            if (!child.storage) {
                child.data = reader.Read(reader.Extents(ids[i], claims));
            } else if (storage.depth + 1 > kMaxDepth) {
                Damaged("its storages are nested more than " + std::to_string(kMaxDepth) + " deep");
            } else {
                pending.push_back({&child, ids[i], storage.depth + 1});
            }
        }
    }
    return root;
}

}  // namespace orv::compound
