// Entry point of orvandel-sheets: the backends this build has, then the command.
#include <iostream>

#include "automation/ooxml/OoxmlBackend.h"
#include "cli/SheetsTool.h"
#ifdef ORVANDEL_WITH_LIBREOFFICE
#include "automation/libreoffice/LibreOfficeBackend.h"
#endif

int main(int argc, char** argv) {
    auto registry = std::make_shared<orv::automation::BackendRegistry>();
    registry->Add(orv::ooxml::MakeOoxmlBackend());
#ifdef ORVANDEL_WITH_LIBREOFFICE
    registry->Add(orv::libreoffice::MakeLibreOfficeBackend());
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    return orv::cli::RunSheetsTool(args, std::cout, std::cerr, registry);
}
