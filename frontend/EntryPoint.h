#pragma once

// The tool's whole run: the command line becomes one command, which runs
// inside the only exception guard; its outcome is printed and ends the
// process.
[[noreturn]] void runHelper(int argc, char** argv);
