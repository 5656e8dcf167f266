// What a program asks of the system about itself: its arguments as UTF-8, a console that shows UTF-8, the
// request to end from outside, local time, and the per-user folders where it keeps state and private files.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace orv::platform {

// The program's arguments after its name, as UTF-8. Windows hands `argv` over in the ANSI code page, where a
// name outside it is lost, so there they are read from the wide command line instead.
std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv);

// Has the console show what the program prints as UTF-8 (Windows); elsewhere the terminal already does.
void PrintUtf8ToConsole();

// A descriptor that becomes readable when the system asks the program to end (a logout, `kill`, Ctrl+C), so
// that an event loop can end it the way closing its window does; -1 where the system asks a program to end
// through its window instead (Windows), or when none can be made. Set up once per process.
int EndRequestDescriptor();

// The local calendar time of `time`.
std::tm LocalTime(std::time_t time);

// The per-user folder where `program` keeps its state: $XDG_STATE_HOME/<program>, else
// ~/.local/state/<program>; %LOCALAPPDATA%\<Program> on Windows (local, not roaming: what is kept there names
// files of this machine).
std::filesystem::path StateFolder(std::string_view program);

// A folder under the system's temporary folder that belongs to this user alone, for `program`'s private files
// ("<tmp>/<program>-<uid>"; on Windows the temporary folder is the user's own: "<tmp>\<program>").
std::filesystem::path UserTemporaryFolder(std::string_view program);

}  // namespace orv::platform
