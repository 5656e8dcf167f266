// Fuzz target: the compound file tree reader on any bytes, and the writer on what it reads. A tree that is
// read and written again (unless the writer refuses its names) must read back the same and be written to the
// same bytes a second time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "compound/CompoundFile.h"

namespace {

using orv::compound::Entry;

// What the writer keeps: names, kinds, contents, and the CLSID, state bits and times of storages.
bool Same(const Entry& a, const Entry& b, bool root) {
    if (a.storage != b.storage) return false;
    if (!a.storage) return a.data == b.data;
    if (a.clsid != b.clsid || a.stateBits != b.stateBits || a.modified != b.modified) return false;
    if (!root && a.created != b.created) return false;
    if (a.children.size() != b.children.size()) return false;
    for (const Entry& child : a.children) {
        const Entry* match = b.Child(child.name);
        if (!match || match->name != child.name || !Same(child, *match, false)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    Entry tree;
    try {
        tree = orv::compound::ReadTree(bytes);
    } catch (const std::runtime_error&) {
        return 0;
    }
    std::vector<std::uint8_t> written;
    try {
        written = orv::compound::Write(tree);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    const Entry back = orv::compound::ReadTree(written);
    if (!Same(tree, back, true) || orv::compound::Write(back) != written) std::abort();
    return 0;
}
