// Records and aborts the office's questions during a load, and turns them into failure descriptions.
#include "automation/libreoffice/UnoInteraction.h"

#include <com/sun/star/document/BrokenPackageRequest.hpp>
#include <com/sun/star/document/LockedDocumentRequest.hpp>
#include <com/sun/star/document/NoSuchFilterRequest.hpp>
#include <com/sun/star/document/OwnLockOnDocumentRequest.hpp>
#include <com/sun/star/task/DocumentMSPasswordRequest2.hpp>
#include <com/sun/star/task/DocumentPasswordRequest2.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/ucb/InteractiveIOException.hpp>

#include "legacy/SheetListing.h"

namespace orv::libreoffice {

using namespace css;
using rtl::OUStringToOString;

void RecordingInteractionHandler::handle(const uno::Reference<task::XInteractionRequest>& request) {
    if (!request.is()) return;
    const uno::Any what = request->getRequest();
    RecordedQuestion question;
    const rtl::OString typeName = OUStringToOString(what.getValueTypeName(), RTL_TEXTENCODING_UTF8);
    question.typeName.assign(typeName.getStr(), static_cast<std::size_t>(typeName.getLength()));
    if (what.isExtractableTo(cppu::UnoType<document::NoSuchFilterRequest>::get())) {
        question.kind = LoadQuestion::NoFilter;
    } else if (what.isExtractableTo(cppu::UnoType<document::BrokenPackageRequest>::get())) {
        question.kind = LoadQuestion::Damaged;
    } else if (what.isExtractableTo(cppu::UnoType<task::DocumentPasswordRequest2>::get()) ||
               what.isExtractableTo(cppu::UnoType<task::DocumentMSPasswordRequest2>::get())) {
        question.kind = LoadQuestion::Password;
    } else if (what.isExtractableTo(cppu::UnoType<document::LockedDocumentRequest>::get()) ||
               what.isExtractableTo(cppu::UnoType<document::OwnLockOnDocumentRequest>::get())) {
        question.kind = LoadQuestion::Locked;
    } else if (what.isExtractableTo(cppu::UnoType<ucb::InteractiveIOException>::get())) {
        question.kind = LoadQuestion::IoError;
    }
    {
        std::lock_guard lock(m_mutex);
        m_questions.push_back(question);
    }
    for (const auto& continuation : request->getContinuations()) {
        uno::Reference<task::XInteractionAbort> abort(continuation, uno::UNO_QUERY);
        if (abort.is()) {
            abort->select();
            return;
        }
    }
}

std::vector<RecordedQuestion> RecordingInteractionHandler::questions() const {
    std::lock_guard lock(m_mutex);
    return m_questions;
}

std::string DescribeLoadFailure(const std::string& path, const std::vector<RecordedQuestion>& questions,
                                const std::string& detail) {
    for (const auto& question : questions) {
        switch (question.kind) {
            case LoadQuestion::Password:
                return legacy::CannotOpen(
                    path, "it is password-protected",
                    "Remove the password in a spreadsheet application, save it, and try again.");
            case LoadQuestion::Locked:
                return legacy::CannotOpen(path, "it is open in another program",
                                          "Close it there (or in LibreOffice or Excel), then try again.");
            case LoadQuestion::Damaged:
                return legacy::CannotOpen(
                    path, "it is damaged",
                    "Open it in a spreadsheet application to repair it, or use a good copy of the file.");
            case LoadQuestion::NoFilter:
                return legacy::CannotOpen(path, "it is not a workbook LibreOffice can read",
                                          "Choose a workbook saved by a spreadsheet application.");
            case LoadQuestion::IoError:
                return legacy::CannotOpen(
                    path, "LibreOffice could not read the file",
                    "Check that it exists, that you may read it and that no other program locks it.");
            case LoadQuestion::Other:
                break;
        }
    }
    std::string reason = "LibreOffice could not load it";
    if (!questions.empty())
        reason += " (it asked " + questions.front().typeName + ")";
    else if (!detail.empty())
        reason += " (" + detail + ")";
    return legacy::CannotOpen(path, reason,
                              "Check that it is a workbook a spreadsheet application opens, then try again.");
}

}  // namespace orv::libreoffice
