// The compression of a VBA project's streams (the dir stream and each module's source): a signature byte,
// then chunks of at most 4096 bytes, each stored as it is or as literals and back-references within it.
#pragma once

#include <string>
#include <string_view>

namespace orv::engine::vba {

// The bytes `container` holds; throws EngineError saying what is wrong with a damaged one. `limit` caps the
// output, so that a small hostile container cannot ask for unbounded memory.
std::string Decompress(std::string_view container, std::size_t limit = 256u << 20);

// A container holding `data`, as the application writes one: a chunk is stored compressed unless that would
// make it larger than the data it holds.
std::string Compress(std::string_view data);

}  // namespace orv::engine::vba
