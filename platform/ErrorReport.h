// The error box: a message under the title "Internal Error" that the user acknowledges.
#pragma once

namespace ostrel {

// With `mode` 0, shows `ErrorMessage` framed as a box titled "Internal Error" on standard error.
// When standard input is a terminal it waits for Enter (the acknowledgement); otherwise it returns
// at once. Any other `mode` does nothing. It never ends the program.
void ErrorReport(const char* ErrorMessage, unsigned char mode);

}  // namespace ostrel
