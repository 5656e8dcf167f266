// Builds the window under test.
#include "WindowFixture.h"

#include "automation/DefaultBackends.h"

namespace orv::testing {

void WindowFixture::Start(std::shared_ptr<const automation::BackendRegistry> backends, bool load) {
    if (!backends) backends = automation::DefaultBackends();
    form = std::make_unique<app::Form1>(
        app::Form1Services{dialogs, backends, processes, programFolder(), [this] { return fraction; },
                           [this](const std::string& url) { openedUrls.push_back(url); }, workFolder() / "user data",
                           false, undoFolder});
    if (load) loaded = form->Form_Load();
}

std::string WindowFixture::Workbook(const std::string& source, const std::string& as) {
    // "samples/..." names the program's own sample workbooks; anything else lies under the test fixtures.
    const std::filesystem::path from = source.rfind("samples/", 0) == 0
                                           ? std::filesystem::path(ORVANDEL_SAMPLES_DIR) / source.substr(8)
                                           : std::filesystem::path(ORVANDEL_TEST_DATA) / source;
    const std::filesystem::path to = workFolder() / (as.empty() ? from.filename().string() : as);
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    return to.string();
}

}  // namespace orv::testing
