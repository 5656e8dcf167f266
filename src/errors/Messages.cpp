// The application title, set once at start-up and read by every box.
#include "errors/Messages.h"

namespace orv::errors {

namespace {
std::string& Title() {
    static std::string title = kProductName;
    return title;
}
}  // namespace

const std::string& ApplicationTitle() { return Title(); }

void SetApplicationTitle(std::string title) { Title() = std::move(title); }

}  // namespace orv::errors
