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

# 32-bit glibc keeps off_t and time_t at 32 bits unless asked for more: a file of 2 GiB or more
# then cannot be opened, and one modified after January 2038 cannot be stat-ed. Where the plain
# types are too narrow, ask for 64-bit ones (_TIME_BITS=64 needs glibc 2.34 and
# _FILE_OFFSET_BITS=64 with it). 64-bit hosts, musl and the BSDs have them already and get
# no definition. platform.cpp refuses to build with a narrow off_t.
set(zantra_off_t_probe "#include <sys/types.h>
int main() { static_assert(sizeof(off_t) >= 8, \"narrow\"); return 0; }")
set(zantra_time_t_probe "#include <ctime>
int main() { static_assert(sizeof(std::time_t) >= 8, \"narrow\"); return 0; }")
check_cxx_source_compiles("${zantra_off_t_probe}" ZANTRA_OFF_T_64)
check_cxx_source_compiles("${zantra_time_t_probe}" ZANTRA_TIME_T_64)
set(zantra_wide_types "")
if(NOT ZANTRA_OFF_T_64)
  list(APPEND zantra_wide_types _FILE_OFFSET_BITS=64)
endif()
if(NOT ZANTRA_TIME_T_64)
  list(APPEND zantra_wide_types _FILE_OFFSET_BITS=64 _TIME_BITS=64)
endif()
list(REMOVE_DUPLICATES zantra_wide_types)
if(zantra_wide_types)
  list(TRANSFORM zantra_wide_types PREPEND "-D" OUTPUT_VARIABLE CMAKE_REQUIRED_DEFINITIONS)
  check_cxx_source_compiles("${zantra_off_t_probe}" ZANTRA_OFF_T_64_AS_ASKED)
  check_cxx_source_compiles("${zantra_time_t_probe}" ZANTRA_TIME_T_64_AS_ASKED)
  unset(CMAKE_REQUIRED_DEFINITIONS)
  if(NOT ZANTRA_OFF_T_64_AS_ASKED)
    message(FATAL_ERROR "zantra needs a 64-bit off_t, which ${zantra_wide_types} did not give")
  endif()
  if(NOT ZANTRA_TIME_T_64_AS_ASKED)
    message(WARNING "time_t has 32 bits here: files modified after January 2038 cannot be read")
  endif()
  target_compile_definitions(zantra_flags INTERFACE ${zantra_wide_types})
  message(STATUS "64-bit file offsets and times with ${zantra_wide_types}")
endif()
