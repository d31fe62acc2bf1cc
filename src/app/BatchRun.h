#pragma once

// velmora --batch: a reference and one device sweep without a window or a display, for
// scripts and unattended benches. Prompts are asked on the terminal or take their defaults,
// the record goes into the history, and the verdict is the one line on standard output.
namespace BatchRun {

// Exit status: 0 for PASS or NONE, 1 for FAIL, 2 for any error (the reason on standard error).
int main(int argc, char* argv[]);

} // namespace BatchRun
