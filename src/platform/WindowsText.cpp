// UTF-16 names, long paths and error texts for the Windows side of the platform room.
#include "platform/WindowsText.h"

#include <filesystem>

#include "platform/Paths.h"
#include "platform/TextCase.h"

namespace orv::platform::windows {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

std::string Narrow(std::wstring_view utf16) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 code units");
    return Utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
}

std::wstring LongPath(std::string_view utf8Path) {
    std::error_code ec;
    std::filesystem::path path = PathFromUtf8(utf8Path);
    const auto absolute = std::filesystem::absolute(path, ec);
    if (!ec) path = absolute;
    std::wstring text = path.lexically_normal().make_preferred().wstring();
    if (text.starts_with(L"\\\\?\\")) return text;
    if (text.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + text.substr(2);
    return L"\\\\?\\" + text;
}

std::string ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? Narrow(std::wstring_view(buffer, n)) : "";
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "system error " + std::to_string(error) : text;
}

bool HeldByAnotherProgram(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

DWORD RetryWhileHeld(const std::function<DWORD()>& attempt, bool deniedToo) {
    // Short waits first: most holders let go within a few tens of milliseconds.
    static constexpr DWORD kWaits[] = {20, 40, 80, 160, 300, 400, 500, 500};
    DWORD error = attempt();
    for (const DWORD wait : kWaits) {
        if (!HeldByAnotherProgram(error) && !(deniedToo && error == ERROR_ACCESS_DENIED)) break;
        ::Sleep(wait);
        error = attempt();
    }
    return error;
}

}  // namespace orv::platform::windows
