// kxvplay's commands. Each runs on the main thread with COM initialised,
// prints its results on stdout and throws CAppError on failure.
#pragma once

#include "CommandLine.h"

void RunInfo(const CommandOptions& options);
void RunPlay(const CommandOptions& options);
void RunOpen(const CommandOptions& options);
void RunExport(const CommandOptions& options);
void RunFrame(const CommandOptions& options);
void RunFrames(const CommandOptions& options);
void RunSheet(const CommandOptions& options);
void RunThumb(const CommandOptions& options);
void RunProps(const CommandOptions& options);
