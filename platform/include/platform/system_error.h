// Operating-system error numbers and their texts.
#pragma once

#include <string>

namespace platform {

// The calling thread's last operating-system error number.
int lastSystemError();

// The system's text for error `error`, ending with "\r\n" as the system's
// own messages do. A missing file or device reads
// "The system cannot find the file specified.\r\n" on every platform.
std::string systemErrorText(int error);

// The error number that means "no such file or device".
int fileNotFoundError();

// Shows a message to the user where no window is at hand (a message box on
// Windows, standard error here).
void showMessage(const std::string& text, const std::string& title);

}  // namespace platform
