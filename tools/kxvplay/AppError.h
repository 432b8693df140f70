// A failure that ends the command: the exit code and the one line shown to
// the user. Thrown inside kxvplay's own code only, never across a COM call
// (grabber callbacks record their failures instead), caught in wmain.
#pragma once

#include "ExitCode.h"

#include <string>

class CAppError {
public:
    CAppError(ExitCode code, std::wstring message) : Code(code), Message(std::move(message)) {}

    ExitCode Code;
    std::wstring Message;
};
