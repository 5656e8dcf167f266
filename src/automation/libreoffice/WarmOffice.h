// An office started ahead for the window's next operation: starting a private LibreOffice takes longer than
// most operations on an .xls workbook, so the window starts one in the background while the user chooses,
// and the next operation takes it instead of starting its own. From the operation's side nothing changes: it
// has an instance of its own, which its Quit ends.
#pragma once

#include <chrono>
#include <memory>

namespace orv::libreoffice {

class Office;

// Starts an office in the background unless one is ready or starting, and keeps starting one after each
// operation from now on. An office nobody takes ends after `idle`. Never fails: when the start fails, the
// next operation starts its own and says what is wrong.
void WarmUp(std::chrono::seconds idle = std::chrono::minutes(5));

// The office started ahead (waiting for a start under way), or nullptr when there is none.
std::unique_ptr<Office> TakeWarmOffice();

// Waits for a start under way to end (for measurements); true when an office is ready.
bool AwaitWarmOffice();

// After an operation ended its office: starts the next one, when WarmUp was asked for.
void WarmAgain();

// Ends the office started ahead and stops starting new ones (the program is ending). Never fails.
void EndWarmOffice() noexcept;

}  // namespace orv::libreoffice
