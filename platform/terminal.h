// The terminal the command-line client writes to: whether standard error is one (progress bars
// only there) and how wide it is.
//
// Thread safety: safe from any thread.
#pragma once

namespace vantry {

// True when standard error is a terminal.
bool StandardErrorIsTerminal();
// The width of the terminal on standard error in columns; 80 when it cannot be told.
int StandardErrorColumns();

}  // namespace vantry
