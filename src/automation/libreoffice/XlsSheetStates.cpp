// Patches the BoundSheet, WINDOW1 and WINDOW2 records of a saved .xls in place (same sizes), then replaces
// the file.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "automation/libreoffice/SheetStates.h"
#include "compound/CompoundFile.h"
#include "legacy/BiffRecords.h"
#include "platform/Paths.h"

namespace orv::libreoffice {

using compound::CompoundFile;
using legacy::ListXlsSheets;
namespace biff = legacy::biff;

using automation::SheetVisibility;
using namespace biff;
namespace fs = std::filesystem;

namespace {

std::uint8_t StateOf(SheetVisibility visibility) {
    switch (visibility) {
        case SheetVisibility::Hidden:
            return 1;
        case SheetVisibility::VeryHidden:
            return 2;
        case SheetVisibility::Visible:
            break;
    }
    return 0;
}

void Put16(std::vector<std::uint8_t>& stream, std::size_t at, unsigned value) {
    stream[at] = static_cast<std::uint8_t>(value & 0xFF);
    stream[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Marks the sheet whose substream starts at `bof` selected and shown (or not) in its WINDOW2 record.
void SetSheetSelected(std::vector<std::uint8_t>& stream, std::size_t bof, bool selected) {
    constexpr unsigned kSelectedAndShown = 0x0200 | 0x0400;
    RecordReader reader(stream, bof);
    Record record;
    while (reader.Next(record) && record.id != kEof) {
        if (record.id != kWindow2 || record.size < 2) continue;
        const unsigned flags = U16(stream.data() + record.offset);
        Put16(stream, record.offset, selected ? (flags | kSelectedAndShown) : (flags & ~kSelectedAndShown));
        return;
    }
}

}  // namespace

std::optional<std::string> RestoreXlsSheetStates(const std::string& path,
                                                 const std::vector<ListedSheet>& sheets) {
    std::vector<std::uint8_t> bytes;
    {
        std::ifstream in(platform::PathFromUtf8(path), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    try {
        const auto saved = ListXlsSheets(bytes, path);
        if (!saved || saved->size() != sheets.size())
            return "the saved file does not list the expected sheets";
        bool statesRight = true;
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            if ((*saved)[i].name != sheets[i].name) return "the saved file does not list the expected sheets";
            statesRight = statesRight && (*saved)[i].visibility == sheets[i].visibility;
        }
        if (statesRight) return std::nullopt;

        CompoundFile file(bytes);
        const std::string streamName = file.ReadRootStream("Workbook") ? "Workbook" : "Book";
        auto stream = *file.ReadRootStream(streamName);
        std::vector<std::size_t> substreams;
        std::size_t window1 = 0;
        RecordReader reader(stream, 0);
        Record record;
        while (reader.Next(record) && record.id != kEof) {
            if (record.id == kWindow1 && record.size >= 16) window1 = record.offset;
            if (record.id != kBoundSheet || record.size < 6) continue;
            const std::size_t index = substreams.size();
            if (index >= sheets.size()) break;
            std::uint8_t& state = stream[record.offset + 4];
            state = static_cast<std::uint8_t>((state & ~0x03) | StateOf(sheets[index].visibility));
            substreams.push_back(U16(stream.data() + record.offset) |
                                 static_cast<std::size_t>(U16(stream.data() + record.offset + 2)) << 16);
        }
        if (substreams.size() != sheets.size()) return "its sheet records could not be found";
        if (window1 != 0) {
            const unsigned active = U16(stream.data() + window1 + 10);
            if (active >= sheets.size() || sheets[active].visibility != SheetVisibility::Visible) {
                std::size_t firstVisible = 0;
                while (firstVisible < sheets.size() &&
                       sheets[firstVisible].visibility != SheetVisibility::Visible) {
                    ++firstVisible;
                }
                if (firstVisible == sheets.size()) return "it has no visible sheet";
                Put16(stream, window1 + 10, static_cast<unsigned>(firstVisible));  // active sheet
                Put16(stream, window1 + 12, 0);                                    // first tab shown
                Put16(stream, window1 + 14, 1);                                    // one selected sheet
                for (std::size_t i = 0; i < substreams.size(); ++i) {
                    SetSheetSelected(stream, substreams[i], i == firstVisible);
                }
            }
        }
        const auto patched = file.WithRootStream(streamName, stream);
        // Replace the file whole or not at all.
        const fs::path target = platform::PathFromUtf8(path);
        const fs::path temporary =
            target.parent_path() / platform::PathFromUtf8(".~orvandel." + platform::FileNameOf(path));
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(patched.data()),
                      static_cast<std::streamsize>(patched.size()));
            if (!out.flush()) {
                std::error_code ec;
                fs::remove(temporary, ec);
                return "the patched file could not be written beside it";
            }
        }
        std::error_code ec;
        fs::permissions(temporary, fs::status(target, ec).permissions(), ec);
        fs::rename(temporary, target, ec);
        if (ec) {
            fs::remove(temporary, ec);
            return "the patched file could not replace it";
        }
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string("the saved file could not be read back (") + e.what() + ")";
    }
}

}  // namespace orv::libreoffice
