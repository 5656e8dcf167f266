// Fuzz target: the listing of files LibreOffice serves, read without starting it: the compound file reader
// and the BIFF records of .xls, and (for inputs that start like a zip) the .ods and OOXML listings.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "FuzzSupport.h"
#include "automation/ObjectModel.h"
#include "compound/CompoundFile.h"
#include "legacy/SheetListing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using orv::automation::AutomationError;
    using orv::automation::FileFormat;
    namespace legacy = orv::legacy;
    const std::vector<std::uint8_t> bytes(data, data + size);
    try {
        (void)legacy::ListXlsSheets(bytes, "fuzz.xls");
    } catch (const AutomationError&) {
    }
    if (orv::compound::CompoundFile::HasSignature(bytes)) {
        try {
            const orv::compound::CompoundFile file(bytes);
            for (const auto& name : file.rootStreamNames()) {
                const auto stream = file.ReadRootStream(name);
                if (stream) (void)file.WithRootStream(name, *stream);
            }
        } catch (const std::runtime_error&) {
        }
    }
    if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
        const auto path = orv::fuzz::WriteScratch("input.ods", data, size);
        for (const auto format : {FileFormat::Ods, FileFormat::Xlsx}) {
            try {
                (void)legacy::ListSheets(path, format);
            } catch (const AutomationError&) {
            }
        }
    }
    return 0;
}
