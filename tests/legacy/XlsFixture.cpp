// The byte-level .xls builder of the listing tests.
#include "XlsFixture.h"

#include <stdexcept>

namespace orv::legacy::test {

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

void PutRecord(std::vector<std::uint8_t>& out, unsigned id, const std::vector<std::uint8_t>& data) {
    Put16(out, id);
    Put16(out, static_cast<unsigned>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

std::vector<std::uint8_t> Bof(bool biff5, unsigned substream) {
    std::vector<std::uint8_t> data;
    Put16(data, biff5 ? 0x0500 : 0x0600);
    Put16(data, substream);
    Put16(data, 0x0DBB);
    Put16(data, 0x07CC);
    if (!biff5) {
        Put32(data, 0);
        Put32(data, 0x0600);
    }
    return data;
}

}  // namespace

std::string Utf16Le(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::vector<std::uint8_t> MakeBiffStream(const std::vector<FixtureSheet>& sheets,
                                         const FixtureOptions& options) {
    std::vector<std::uint8_t> out;
    PutRecord(out, 0x0809, Bof(options.biff5, 0x0005));
    if (options.codePage != 0) {
        std::vector<std::uint8_t> data;
        Put16(data, options.codePage);
        PutRecord(out, 0x0042, data);
    }
    if (options.filePass) PutRecord(out, 0x002F, std::vector<std::uint8_t>(54, 0x11));
    std::vector<std::size_t> positionFields;
    for (const auto& sheet : sheets) {
        std::vector<std::uint8_t> data;
        Put32(data, 0);
        data.push_back(sheet.state);
        data.push_back(sheet.type);
        const std::size_t units = sheet.wide ? sheet.nameBytes.size() / 2 : sheet.nameBytes.size();
        data.push_back(static_cast<std::uint8_t>(units));
        if (!options.biff5) data.push_back(sheet.wide ? 1 : 0);
        data.insert(data.end(), sheet.nameBytes.begin(), sheet.nameBytes.end());
        positionFields.push_back(out.size() + 4);
        PutRecord(out, 0x0085, data);
    }
    // Without the globals' EOF the sheet substreams are left out too, or their EOF would end the globals.
    if (options.omitGlobalsEof) return out;
    PutRecord(out, 0x000A, {});
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        Set32(out, positionFields[i], static_cast<std::uint32_t>(out.size()));
        PutRecord(out, 0x0809, Bof(options.biff5, sheets[i].type == 2 ? 0x0020 : 0x0010));
        PutRecord(out, 0x0081, {static_cast<std::uint8_t>(sheets[i].dialog ? 0x11 : 0x01), 0x04});
        PutRecord(out, 0x000A, {});
    }
    return out;
}

std::vector<std::uint8_t> MakeCompoundFile(const std::string& streamName, std::vector<std::uint8_t> stream) {
    constexpr std::uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSector = 0xFFFFFFFD;
    if (stream.size() < 4096) stream.resize(4096, 0);
    const std::size_t streamSectors = (stream.size() + 511) / 512;
    if (streamSectors + 2 > 128) throw std::length_error("fixture stream too large for one FAT sector");

    std::vector<std::uint8_t> file;
    const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    file.insert(file.end(), signature, signature + 8);
    file.resize(0x18, 0);
    Put16(file, 0x003E);
    Put16(file, 0x0003);
    Put16(file, 0xFFFE);
    Put16(file, 9);
    Put16(file, 6);
    file.resize(0x2C, 0);
    Put32(file, 1);     // FAT sectors
    Put32(file, 1);     // first directory sector
    Put32(file, 0);     // transaction
    Put32(file, 4096);  // mini stream cutoff
    Put32(file, kEnd);  // first mini FAT sector
    Put32(file, 0);     // mini FAT sectors
    Put32(file, kEnd);  // first DIFAT sector
    Put32(file, 0);     // DIFAT sectors
    Put32(file, 0);     // the FAT is sector 0
    while (file.size() < 512) Put32(file, kFree);

    std::vector<std::uint8_t> fat;
    Put32(fat, kFatSector);
    Put32(fat, kEnd);
    for (std::size_t i = 0; i < streamSectors; ++i) {
        Put32(fat, i + 1 == streamSectors ? kEnd : static_cast<std::uint32_t>(i + 3));
    }
    while (fat.size() < 512) Put32(fat, kFree);
    file.insert(file.end(), fat.begin(), fat.end());

    auto entry = [](const std::string& name, std::uint8_t type, std::uint32_t child, std::uint32_t start,
                    std::uint32_t size) {
        std::vector<std::uint8_t> e(128, 0);
        for (std::size_t i = 0; i < name.size(); ++i) e[2 * i] = static_cast<std::uint8_t>(name[i]);
        const unsigned nameBytes = name.empty() ? 0 : static_cast<unsigned>(2 * (name.size() + 1));
        e[0x40] = static_cast<std::uint8_t>(nameBytes);
        e[0x42] = type;
        e[0x43] = 1;
        Set32(e, 0x44, kFree);
        Set32(e, 0x48, kFree);
        Set32(e, 0x4C, child);
        Set32(e, 0x74, start);
        Set32(e, 0x78, size);
        return e;
    };
    auto root = entry("Root Entry", 5, 1, kEnd, 0);
    auto item = entry(streamName, 2, kFree, 2, static_cast<std::uint32_t>(stream.size()));
    auto empty = entry("", 0, kFree, 0, 0);
    for (const auto* e : {&root, &item, &empty, &empty}) file.insert(file.end(), e->begin(), e->end());

    stream.resize(streamSectors * 512, 0);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

std::vector<std::uint8_t> MakeXls(const std::vector<FixtureSheet>& sheets, const FixtureOptions& options) {
    std::string name = options.streamName;
    if (name.empty()) name = options.biff5 ? "Book" : "Workbook";
    return MakeCompoundFile(name, MakeBiffStream(sheets, options));
}

}  // namespace orv::legacy::test
