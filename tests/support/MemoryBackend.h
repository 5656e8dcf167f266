// An in-memory backend for tests that need a failure at a chosen object-model call. Its "files" are entries
// of a store keyed by path; a workbook is read from the store when opened and written back when saved. Happy
// paths are tested on real workbook files through the real backends; this double is for failure injection.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/Backend.h"

namespace orv::testing {

struct MemorySheet {
    MemorySheet(std::string name, automation::SheetKind kind = automation::SheetKind::Worksheet,
                automation::SheetVisibility visibility = automation::SheetVisibility::Visible,
                std::string content = {})
        : name(std::move(name)), kind(kind), visibility(visibility), content(std::move(content)) {}
    std::string name;
    automation::SheetKind kind = automation::SheetKind::Worksheet;
    automation::SheetVisibility visibility = automation::SheetVisibility::Visible;
    std::string content;  // stands for everything a sheet carries
};

class MemoryStore {
  public:
    std::map<std::string, std::vector<MemorySheet>> files;
    // Operation name ("Open", "Save", "Close", "Quit", "setName", "Copy", "Move", "Delete") -> the call,
    // counting from 1, that fails. An entry of 0 makes every call of that operation fail.
    std::map<std::string, int> failOn;
    // Every call, in order, as "Operation" or "Operation:detail".
    std::vector<std::string> calls;
    // When set, Copy makes the copy and then fails with this text, as a backend does that reports a problem with
    // a copy it made.
    std::string copyNotice;
    int sessionsStarted = 0;
    int sessionsEnded = 0;

    // Records the call and throws AutomationError when it is one that is to fail.
    void Check(const std::string& operation, const std::string& detail = {});

    // Forgets the calls made so far, so that failOn counts from the next call.
    void ResetCalls() {
        calls.clear();
        m_counts.clear();
        sessionsStarted = sessionsEnded = 0;
    }

    // The sheet names of a stored file, in order.
    std::vector<std::string> names(const std::string& path) const;

  private:
    std::map<std::string, int> m_counts;
};

// A backend over `store` serving `formats` (the four OOXML formats when empty).
std::shared_ptr<automation::Backend> MakeMemoryBackend(std::shared_ptr<MemoryStore> store,
                                                       std::vector<automation::FileFormat> formats = {});

}  // namespace orv::testing
