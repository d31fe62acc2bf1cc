#pragma once

// Ends the process at once with a failure status: no later step of the routine that called
// it runs, nothing more goes over the bus and no window remains.
[[noreturn]] void EndProgram();
