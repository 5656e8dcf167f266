// The interaction handler given to every load: it records each question the office asks and answers it with
// Abort, so a load never waits for a user, and the recorded question tells why a load gave nothing.
#pragma once

#include <com/sun/star/task/XInteractionHandler.hpp>
#include <cppuhelper/implbase1.hxx>
#include <mutex>
#include <string>
#include <vector>

namespace orv::libreoffice {

enum class LoadQuestion { NoFilter, Damaged, Password, Locked, IoError, Other };

struct RecordedQuestion {
    LoadQuestion kind = LoadQuestion::Other;
    std::string typeName;  // the UNO type of the request, for Other
};

class RecordingInteractionHandler : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
  public:
    // Records the request and selects its Abort continuation (or, lacking one, none at all).
    void SAL_CALL handle(const css::uno::Reference<css::task::XInteractionRequest>& request) override;

    // The questions asked so far, oldest first.
    std::vector<RecordedQuestion> questions() const;

  private:
    mutable std::mutex m_mutex;
    std::vector<RecordedQuestion> m_questions;
};

// The description of a load that failed after `questions`, for the file at `path`; `detail` names what the
// office reported otherwise (an exception type), or is empty.
std::string DescribeLoadFailure(const std::string& path, const std::vector<RecordedQuestion>& questions,
                                const std::string& detail);

}  // namespace orv::libreoffice
