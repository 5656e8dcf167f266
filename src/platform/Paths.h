// Paths above the system room are UTF-8 text; the system takes them in its own form. On Windows that is
// UTF-16, and a std::filesystem::path made from a narrow string reads it in the ANSI code page: a name with
// "é" would name another file. Every path made from text, and every text made from a path, goes through here.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orv::platform {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// The path with forward slashes, as UTF-8: how links and part names write paths.
inline std::string GenericUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// The last component of a UTF-8 path ("Budget.xlsx" of "C:\Data\Budget.xlsx" or "/data/Budget.xlsx").
inline std::string FileNameOf(std::string_view utf8Path) {
    return Utf8FromPath(PathFromUtf8(utf8Path).filename());
}

// The folder of a UTF-8 path, as UTF-8.
inline std::string ParentFolderOf(std::string_view utf8Path) {
    return Utf8FromPath(PathFromUtf8(utf8Path).parent_path());
}

}  // namespace orv::platform
