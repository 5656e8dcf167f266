// Physical references: cp and unzip as commands, inflating and deflating with libzip and zlib.
#include "References.h"

#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "Measure.h"

namespace orv::bench {

namespace {

class Reader {
  public:
    explicit Reader(const std::string& file) {
        int error = 0;
        m_zip = zip_open(file.c_str(), ZIP_RDONLY, &error);
        if (!m_zip) throw std::runtime_error("Cannot open " + file + " as a zip archive");
    }
    ~Reader() { zip_discard(m_zip); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    std::string Read(const std::string& name) const {
        zip_stat_t st;
        if (zip_stat(m_zip, name.c_str(), 0, &st) != 0) throw std::runtime_error("No entry " + name);
        zip_file_t* f = zip_fopen_index(m_zip, st.index, 0);
        if (!f) throw std::runtime_error("Cannot read " + name);
        std::string bytes(static_cast<std::size_t>(st.size), '\0');
        const zip_int64_t n = zip_fread(f, bytes.data(), st.size);
        zip_fclose(f);
        if (n < 0 || static_cast<zip_uint64_t>(n) != st.size)
            throw std::runtime_error("Short read of " + name);
        return bytes;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        const zip_int64_t count = zip_get_num_entries(m_zip, 0);
        for (zip_int64_t i = 0; i < count; ++i)
            names.emplace_back(zip_get_name(m_zip, static_cast<zip_uint64_t>(i), 0));
        return names;
    }
    double Size(const std::string& name) const {
        zip_stat_t st;
        return zip_stat(m_zip, name.c_str(), 0, &st) == 0 ? static_cast<double>(st.size) : 0;
    }

  private:
    zip_t* m_zip = nullptr;
};

}  // namespace

double CpMs(const std::string& file) {
    const std::string copy = file + ".cp";
    const double ms = RunCommandMs({"cp", file, copy});
    std::remove(copy.c_str());
    return ms;
}

double CpSyncMs(const std::string& file) {
    const std::string copy = file + ".cp";
    const double ms = RunCommandMs({"cp", file, copy}) + RunCommandMs({"sync", copy});
    std::remove(copy.c_str());
    return ms;
}

double UnzipMs(const std::string& file) { return RunCommandMs({"unzip", "-p", file}, true); }

double ListReferenceMs(const std::string& file) {
    return TimeMs([&] {
        Reader zip(file);
        if (zip.Read("xl/workbook.xml").empty()) throw std::runtime_error("Empty workbook part");
    });
}

double InflateMs(const std::string& file, const std::string& part) {
    return TimeMs([&] {
        Reader zip(file);
        if (zip.Read(part).empty()) throw std::runtime_error("Empty part " + part);
    });
}

double InflateEveryPartMs(const std::string& file) {
    return TimeMs([&] {
        Reader zip(file);
        for (const auto& name : zip.Names()) zip.Read(name);
    });
}

double InflateDeflateMs(const std::string& file, const std::vector<std::string>& parts) {
    return TimeMs([&] {
        Reader zip(file);
        for (const auto& part : parts) {
            const std::string bytes = zip.Read(part);
            uLongf size = compressBound(static_cast<uLong>(bytes.size()));
            std::string packed(size, '\0');
            if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                          reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                          Z_DEFAULT_COMPRESSION) != Z_OK) {
                throw std::runtime_error("zlib failed on " + part);
            }
        }
    });
}

std::vector<std::string> PartsContaining(const std::string& file, const std::string& text) {
    Reader zip(file);
    std::vector<std::string> parts;
    for (const auto& name : zip.Names()) {
        const bool formulaPart = name == "xl/workbook.xml" || name.rfind("xl/worksheets/sheet", 0) == 0;
        if (formulaPart && zip.Read(name).find(text) != std::string::npos) parts.push_back(name);
    }
    return parts;
}

double EntrySizeMb(const std::string& file, const std::string& part) {
    return Reader(file).Size(part) / (1024.0 * 1024.0);
}

}  // namespace orv::bench
