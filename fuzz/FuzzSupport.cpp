// Scratch files and in-memory zip packages for the fuzz targets.
#include "FuzzSupport.h"

#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orv::fuzz {

namespace {

const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        auto dir = base / ("orvandel-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir;
    }();
    return folder;
}

// Removes the scratch folder when the fuzzer exits normally.
struct Cleanup {
    ~Cleanup() {
        std::error_code ec;
        std::filesystem::remove_all(ScratchFolder(), ec);
    }
} cleanup;

}  // namespace

std::string ScratchPath(const std::string& name) { return (ScratchFolder() / name).string(); }

std::string WriteScratch(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write the scratch file %s\n", path.c_str());
        std::abort();
    }
    return path;
}

std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& parts) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    if (!archive) std::abort();
    zip_source_keep(buffer);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* data = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        if (!data || zip_file_add(archive, name.c_str(), data, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(data);
        }
    }
    if (zip_close(archive) != 0) std::abort();
    std::string out;
    zip_stat_t st;
    if (zip_source_stat(buffer, &st) == 0 && zip_source_open(buffer) == 0) {
        out.resize(st.size);
        if (zip_source_read(buffer, out.data(), st.size) != static_cast<zip_int64_t>(st.size)) std::abort();
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return out;
}

std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size, std::size_t count) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && pieces.size() < count) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(static_cast<char>(data[i]));
        }
    }
    return pieces;
}

}  // namespace orv::fuzz
