// The commands of the recording tool kxrec, callable from the tool's main
// and from tests:
//   make OUT --size WxH --fps N[/D] --seconds S [--no-sound]
//        [--size-change-at SECONDS:WxH ...] [--info-delay MS] [--raw]
//   import OUT --y4m FILE [--wav FILE]
//   show FILE
//   decode FILE
// Called on one thread at a time.
#pragma once

#include <string>
#include <vector>

namespace kxrec {

// Runs one command line (without the program name). Normal output goes to
// out. On failure returns non-zero and sets error to one line saying why; an
// output file is then not created (or left as it was).
int RunKxrec(const std::vector<std::wstring>& args, std::string& out, std::string& error);

}  // namespace kxrec
