// For a hang that a bounded wait caught: what every other thread of the
// process is doing, as the code addresses found on its stack (module+offset,
// innermost first). The stacks are scanned rather than walked, so the list
// can hold stale return addresses beside the real ones; it needs no frame
// pointers or symbols, which neither the platform's modules nor ours keep.
// Called on the test's thread while the hung threads stay blocked.
#pragma once

#include <string>

std::string DumpThreads();
