// The exit codes of kxvplay. Scripts depend on them, so they never change
// meaning; `kxvplay --help` lists the same table.
#pragma once

enum class ExitCode : int {
    Ok = 0,
    Usage = 1,              // unknown command or option, bad value
    FileUnreadable = 2,     // input missing, a folder, or cannot be opened for reading
    NotRegistered = 3,      // COM does not know the filter's class id
    LibraryMissing = 4,     // VUVezaVID.dll not found beside the registered module nor in LIBRARYDIR
    RecordingRefused = 5,   // the playback library would not open or decode the file
    GraphFailure = 6,       // building or running the filter graph failed
    OutputFailure = 7,      // an output file or folder cannot be written
};
