// Test helpers: folders, fixtures, zip writing and reading, and the generated rich workbook.
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <set>
#include <stdexcept>

#include "StrictCheck.h"
#include "engine/package/Package.h"
#include "engine/workbook/PackageCheck.h"
#include "platform/Paths.h"

namespace orv::engine::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    m_path = fs::temp_directory_path() / ("orvandel-engine-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make folders read-only; give the permissions back so that everything can be removed.
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto& entry : fs::recursive_directory_iterator(m_path, ec)) {
        fs::permissions(entry.path(), fs::perms::owner_all,
                        fs::perm_options::add | fs::perm_options::nofollow, ec);
    }
    fs::remove_all(m_path, ec);
}

std::string TempDir::File(const std::string& name) const {
    return platform::Utf8FromPath(m_path / platform::PathFromUtf8(name));
}

std::string Fixture(const std::string& name) { return std::string(ORVANDEL_OOXML_FIXTURES) + "/" + name; }

std::vector<std::string> OpenableFixtures() {
    // Made to be refused or to fail on a damaged part; the tests that use them say how each one fails. The
    // others are listed, not opened: this runs as every test process starts (hundreds of them, under Wine and
    // the sanitizers too), and a fixture that stopped opening must fail the corpus tests, not leave them.
    static const std::set<std::string> kDamaged = {"bad-crc-part.xlsx",          "broken-root-rels.xlsx",
                                                   "encrypted-agile-aes.xlsx",   "encrypted-default-password.xlsx",
                                                   "owner-lock-file.xlsx",       "truncated-zip.xlsx"};
    std::vector<std::string> names;
    for (auto& entry : fs::directory_iterator(ORVANDEL_OOXML_FIXTURES)) {
        const auto ext = entry.path().extension().string();
        if (ext != ".xlsx" && ext != ".xlsm" && ext != ".xltx") continue;
        const auto name = entry.path().filename().string();
        if (!kDamaged.count(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string CopyTo(const std::string& from, const TempDir& dir, const std::string& name) {
    const auto to = dir.File(name);
    fs::copy_file(platform::PathFromUtf8(from), platform::PathFromUtf8(to),
                  fs::copy_options::overwrite_existing);
    fs::permissions(platform::PathFromUtf8(to), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add);
    return to;
}

void WritePackage(const std::string& path, const Parts& parts) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) throw std::runtime_error("cannot create " + path);
    for (const auto& [name, bytes] : parts) {
        zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
        if (zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(zip);
            throw std::runtime_error("cannot add " + name);
        }
    }
    if (zip_close(zip) != 0) throw std::runtime_error("cannot write " + path);
}

StoredPackage ReadStored(const std::string& path) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip) throw std::runtime_error("cannot open " + path);
    StoredPackage out;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &st);
        StoredEntry entry;
        entry.crc = st.crc;
        for (auto [flags, target] : {std::pair{zip_flags_t{0}, &entry.bytes},
                                     std::pair{zip_flags_t{ZIP_FL_COMPRESSED}, &entry.compressed}}) {
            zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), flags);
            if (!file) continue;
            char buffer[65536];
            zip_int64_t n;
            while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
                target->append(buffer, static_cast<std::size_t>(n));
            zip_fclose(file);
        }
        out.order.push_back(st.name);
        out.entries[st.name] = std::move(entry);
    }
    zip_discard(zip);
    return out;
}

void ExpectSameParts(const std::map<std::string, StoredEntry>& before, const std::string& path) {
    const auto after = ReadStored(path).entries;
    EXPECT_EQ(after.size(), before.size()) << path;
    for (const auto& [name, entry] : before) {
        auto it = after.find(name);
        if (it == after.end()) {
            ADD_FAILURE() << path << " lost " << name;
        } else {
            EXPECT_EQ(it->second.bytes, entry.bytes) << path << " " << name;
        }
    }
}

std::string PartText(const std::string& path, const std::string& part) {
    auto stored = ReadStored(path);
    auto it = stored.entries.find(part);
    if (it == stored.entries.end()) throw std::runtime_error(path + " has no part " + part);
    return it->second.bytes;
}

std::vector<std::string> Problems(const std::string& path) {
    auto package = Package::Open(path);
    auto problems = CheckPackage(*package);
    // A part a namespace-aware reader refuses is broken, whatever the engine's lenient parser makes of it.
    for (auto& problem : NamespaceProblems(path)) problems.push_back(std::move(problem));
    return problems;
}

std::vector<std::string> Orphans(const std::string& path) {
    auto package = Package::Open(path);
    return UnreachableParts(*package);
}

std::string FixtureTestName(std::string path) {
    for (auto& c : path) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return path;
}

}  // namespace orv::engine::test
