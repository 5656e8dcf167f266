// The LibreOffice backend: which formats it serves, whether it can run here, and its sessions.
#include "automation/libreoffice/LibreOfficeBackend.h"

#include "automation/libreoffice/LibreOfficeWorkbook.h"
#include "automation/libreoffice/Office.h"
#include "automation/libreoffice/WarmOffice.h"

namespace orv::libreoffice {

namespace {

class LibreOfficeBackend : public automation::Backend {
  public:
    explicit LibreOfficeBackend(LibreOfficeBackendOptions options) : m_options(options) {}

    std::string name() const override { return "LibreOffice"; }
    bool savesByReplacing() const override { return true; }

    bool serves(automation::FileFormat format) const override {
        if (format == automation::FileFormat::Xls || format == automation::FileFormat::Ods) return true;
        return m_options.serveOoxml && automation::IsOoxml(format);
    }

    bool isAvailable(std::string* why) const override { return OfficeBridgeAvailable(why); }

    // The office itself starts with the first change, so a listing never waits for it.
    std::unique_ptr<automation::BackendSession> Start() override {
        std::string why;
        if (!isAvailable(&why)) throw automation::AutomationError(why);
        return std::make_unique<LoSession>();
    }

    // Starting the office is most of an operation's time; the window's next operation finds one running.
    void Prepare() override { WarmUp(); }
    void EndPrepared() noexcept override { EndWarmOffice(); }

  private:
    LibreOfficeBackendOptions m_options;
};

}  // namespace

std::shared_ptr<automation::Backend> MakeLibreOfficeBackend() { return MakeLibreOfficeBackend({}); }

std::shared_ptr<automation::Backend> MakeLibreOfficeBackend(LibreOfficeBackendOptions options) {
    return std::make_shared<LibreOfficeBackend>(options);
}

}  // namespace orv::libreoffice
