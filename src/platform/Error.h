// The one failure type of the platform room: its text is a full sentence a user can act on.
#pragma once

#include <stdexcept>
#include <string>

namespace orv::platform {

class SystemError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace orv::platform
