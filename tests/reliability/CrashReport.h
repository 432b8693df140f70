// Turns a crash of a test process into a prompt failure with a line saying
// what was going on, instead of a debugger waiting for the kill timeout.
// Install once from main; Note may be called from any thread (the last note
// wins) and must be given a string that lives as long as the process.
#pragma once

void InstallCrashReport();
void NoteActivity(const char* activity);
