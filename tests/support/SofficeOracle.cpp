// The soffice oracle: one profile per test program, retries of a conversion that made nothing.
#include "SofficeOracle.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace orv::testing {

namespace fs = std::filesystem;

namespace {

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Made once by the first conversion and removed when the program ends: a profile that every test makes anew
// is what a loaded machine fails to start in time.
class Profile {
  public:
    Profile() : m_dir(fs::temp_directory_path() / ("orvandel-soffice-profile-" + std::to_string(::getpid()))) {}
    ~Profile() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    Profile(const Profile&) = delete;
    Profile& operator=(const Profile&) = delete;
    const fs::path& dir() const { return m_dir; }

  private:
    fs::path m_dir;
};

}  // namespace

std::string SofficeConvert(const std::vector<fs::path>& sources, const std::string& format, const fs::path& outDir,
                           const std::string& soffice) {
    static const Profile profile;
    fs::create_directories(outDir);
    std::string command = Quote(soffice) + " " + Quote("-env:UserInstallation=file://" + profile.dir().string()) +
                          " --headless --norestore --convert-to " + format + " --outdir " + Quote(outDir.string());
    for (const auto& source : sources) command += " " + Quote(source.string());
    const fs::path log = outDir / ("convert-" + format + ".log");
    command += " >" + Quote(log.string()) + " 2>&1";
    constexpr int kAttempts = 3;
    std::string missing;
    int rc = 0;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        rc = std::system(command.c_str());
        missing.clear();
        for (const auto& source : sources) {
            const fs::path made = outDir / fs::path(source.filename()).replace_extension(format);
            if (!fs::exists(made)) missing = made.string();
        }
        if (missing.empty()) return "";
        if (attempt < kAttempts) std::this_thread::sleep_for(std::chrono::milliseconds(500 * attempt));
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    return "LibreOffice could not convert the workbook: after " + std::to_string(kAttempts) +
           " attempts soffice (exit " + std::to_string(rc) + ") had not made " + missing + "; it printed: " +
           text.str();
}

}  // namespace orv::testing
