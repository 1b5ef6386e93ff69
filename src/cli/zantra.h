// The program as a function, so that main stays one line.
#pragma once

namespace zantra
{

// Runs zantra with the given argument vector and returns the process exit status.
[[nodiscard]] int zantra_main(int argc, char* argv[]);

} // namespace zantra
