// Holds a file open the way the spreadsheet application holds a workbook it has open (others may read it, nothing
// more), or, with "none", sharing nothing at all, as some programs do; until its standard input ends, or for MS
// milliseconds when given. The other program of WindowsFilesTest. Says "held" once it holds the file.
//   orvandel_hold_file FILE [read|none] [MS]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 4) return 2;
    const DWORD share = argc >= 3 && std::wstring(argv[2]) == L"none" ? 0 : FILE_SHARE_READ;
    const long forMs = argc == 4 ? std::wcstol(argv[3], nullptr, 10) : -1;
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    if (forMs >= 0) {
        ::Sleep(static_cast<DWORD>(forMs));
        ::CloseHandle(file);
    }
    char ignored[64];
    DWORD got = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof ignored, &got, nullptr) && got > 0) {
    }
    if (forMs < 0) ::CloseHandle(file);
    return 0;
}
