// Entry point of orvandel-sheets: the backends this build has, then the command.
#include <iostream>

#include "automation/DefaultBackends.h"
#include "cli/SheetsTool.h"
#include "platform/Program.h"
#include "undo/UndoStore.h"

int main(int argc, char** argv) {
    // What the tool prints is UTF-8, and so are the names it is given, whatever the system's code page.
    orv::platform::PrintUtf8ToConsole();
    return orv::cli::RunSheetsTool(orv::platform::ArgumentsAsUtf8(argc, argv), std::cout, std::cerr,
                                   orv::automation::DefaultBackends(), orv::undo::DefaultStoreFolder());
}
