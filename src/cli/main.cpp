// Entry point of orvandel-sheets: the backends this build has, then the command.
#include <iostream>

#include "automation/DefaultBackends.h"
#include "cli/SheetsTool.h"
#include "undo/UndoStore.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return orv::cli::RunSheetsTool(args, std::cout, std::cerr, orv::automation::DefaultBackends(),
                                   orv::undo::DefaultStoreFolder());
}
