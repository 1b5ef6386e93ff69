# Probes for the few things that differ between the systems zantra runs on.
include(CheckCXXSourceCompiles)

check_cxx_source_compiles("
#include <dirent.h>
int main() { struct dirent e{}; return e.d_type == DT_REG || e.d_type == DT_UNKNOWN; }"
  ZANTRA_HAVE_D_TYPE)

check_cxx_source_compiles("
#include <fcntl.h>
int main() { return O_NOFOLLOW | O_DIRECTORY | O_NONBLOCK; }"
  ZANTRA_HAVE_O_NOFOLLOW)
if(NOT ZANTRA_HAVE_O_NOFOLLOW)
  message(FATAL_ERROR "zantra needs O_NOFOLLOW and O_DIRECTORY from <fcntl.h>")
endif()

if(ZANTRA_HAVE_D_TYPE)
  target_compile_definitions(zantra_flags INTERFACE ZANTRA_HAVE_D_TYPE=1)
endif()
