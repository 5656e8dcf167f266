// How the engine's large buffers are had from the system.
#pragma once

#include <cstddef>

namespace orv::platform {

// Has blocks of 4 MB and more mapped from the system, so that each goes back to it when freed (once per
// process; harmless to call again).
void ReturnLargeBuffersAtOnce();

// Maps in the pages of a large buffer not yet touched, in one call instead of a fault for every page as it is
// filled. A hint: nothing changes where the system cannot take it.
void Prefault(void* buffer, std::size_t size);

}  // namespace orv::platform
