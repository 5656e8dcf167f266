// IsExistingFile, from the file's last-modified time.
#include "operations/IsExistingFile.h"

#include <filesystem>
#include <system_error>

#include "platform/Paths.h"

namespace orv::operations {

bool IsExistingFile(const std::string& path) noexcept {
    if (path.empty()) return false;
    try {
        std::error_code ec;
        const std::filesystem::path p = platform::PathFromUtf8(path);
        [[maybe_unused]] const auto modified = std::filesystem::last_write_time(p, ec);
        if (ec) return false;
        return !std::filesystem::is_directory(p, ec) && !ec;
    } catch (...) {
        return false;
    }
}

}  // namespace orv::operations
