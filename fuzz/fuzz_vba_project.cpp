// Fuzz target: the macro project reader (container, directory, module names, module sources) on any bytes,
// and the decompressor alone. A project that reads is changed as a copy and a deletion change it, written,
// and must read back: what the writer makes, the reader takes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "engine/EngineError.h"
#include "engine/vba/Compression.h"
#include "engine/vba/Project.h"

using orv::engine::EngineError;
namespace vba = orv::engine::vba;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        vba::Decompress(bytes, 1u << 20);
    } catch (const EngineError&) {
    }
    std::optional<vba::Project> project;
    try {
        project.emplace(vba::Project::Read(bytes, "fuzz.xlsm"));
    } catch (const EngineError&) {
        return 0;
    }
    for (const auto& module : project->modules()) {
        try {
            project->Source(module);
        } catch (const EngineError&) {
        }
    }
    if (project->modules().empty()) return 0;
    const vba::Module first = project->modules().front();
    try {
        project->AddDocumentModule(*project, first, "FuzzCopy1");
    } catch (const EngineError&) {
    }
    project->RemoveModule(first.name);
    std::string written;
    try {
        written = project->Write();
    } catch (const EngineError&) {
        // Names the container cannot hold are refused in words; nothing else may fail.
        return 0;
    }
    try {
        const auto again = vba::Project::Read(written, "again.xlsm");
        if (again.modules().size() != project->modules().size()) std::abort();
    } catch (const EngineError&) {
        std::abort();
    }
    return 0;
}
