// The engine backend and its sessions.
#include "automation/ooxml/OoxmlBackend.h"

#include <vector>

#include "automation/ooxml/OoxmlWorkbook.h"

namespace orv::ooxml {

namespace {

class OoxmlSession : public automation::BackendSession {
  public:
    std::shared_ptr<automation::Workbook> Open(const std::string& path) override {
        if (m_quit) throw automation::AutomationError("The workbook engine instance has already quit.");
        auto workbook = OoxmlWorkbook::Open(path);
        m_open.push_back(workbook);
        return workbook;
    }

    std::shared_ptr<automation::Workbook> Create(const std::string& path) override {
        if (m_quit) throw automation::AutomationError("The workbook engine instance has already quit.");
        auto workbook = OoxmlWorkbook::Create(path);
        m_open.push_back(workbook);
        return workbook;
    }

    void Quit() override {
        m_quit = true;
        for (auto& workbook : m_open) {
            if (auto open = workbook.lock()) open->Close();
        }
        m_open.clear();
    }

  private:
    std::vector<std::weak_ptr<OoxmlWorkbook>> m_open;
    bool m_quit = false;
};

class OoxmlBackend : public automation::Backend {
  public:
    std::string name() const override { return "the built-in workbook engine"; }
    bool savesByReplacing() const override { return true; }
    bool serves(automation::FileFormat format) const override { return automation::IsOoxml(format); }
    bool isAvailable(std::string*) const override { return true; }
    std::unique_ptr<automation::BackendSession> Start() override { return std::make_unique<OoxmlSession>(); }
};

}  // namespace

std::shared_ptr<automation::Backend> MakeOoxmlBackend() { return std::make_shared<OoxmlBackend>(); }

}  // namespace orv::ooxml
