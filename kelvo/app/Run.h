#pragma once

#include "kelvo/app/CommandLine.h"

namespace kelvo {

// Runs what the command line asks for: the benchmark, a headless run or the
// window. The program's exit code.
int runCommandLine(const CommandLine& commandLine);

}  // namespace kelvo
