// The usage text.
#pragma once

namespace zantra
{

// Writes the usage text to standard output, with `invocation_name` (argv[0] as the shell
// passed it; "zantra" when there is none) in its examples.
void print_help(const char* invocation_name);

} // namespace zantra
