// The record structure of the workbook stream of Excel 5 to 2003 files (BIFF5 and BIFF8): record ids the
// backend reads or patches, and a reader that walks records by offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orv::legacy::biff {

constexpr unsigned kBof = 0x0809;
constexpr unsigned kEof = 0x000A;
constexpr unsigned kFilePass = 0x002F;
constexpr unsigned kWindow1 = 0x003D;
constexpr unsigned kCodePage = 0x0042;
constexpr unsigned kWsBool = 0x0081;
constexpr unsigned kBoundSheet = 0x0085;
constexpr unsigned kWindow2 = 0x023E;
constexpr unsigned kBiff8 = 0x0600;
constexpr unsigned kBiff5 = 0x0500;
constexpr unsigned kGlobals = 0x0005;

struct Record {
    unsigned id = 0;
    std::size_t offset = 0;  // of the record's data in the stream
    std::size_t size = 0;
};

inline unsigned U16(const std::uint8_t* p) { return p[0] | p[1] << 8; }

// Walks the records of a stream from an offset; a record cut by the end of the stream ends the walk.
class RecordReader {
  public:
    RecordReader(const std::vector<std::uint8_t>& stream, std::size_t offset)
        : m_stream(stream), m_offset(offset) {}

    bool Next(Record& record) {
        if (m_offset + 4 > m_stream.size()) return false;
        record.id = U16(m_stream.data() + m_offset);
        record.size = U16(m_stream.data() + m_offset + 2);
        if (m_offset + 4 + record.size > m_stream.size()) return false;
        record.offset = m_offset + 4;
        m_offset += 4 + record.size;
        return true;
    }

  private:
    const std::vector<std::uint8_t>& m_stream;
    std::size_t m_offset;
};

}  // namespace orv::legacy::biff
