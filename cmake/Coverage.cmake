# Line coverage of the host build: gcov's notes land beside the objects and
# the counts beside them when the tests run; tools/ci/coverage.sh reads both.
option(VELK_COVERAGE "Build with gcov line coverage (GCC only)" OFF)

if(VELK_COVERAGE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR WIN32)
    message(FATAL_ERROR "VELK_COVERAGE needs the host build with GCC (gcov)")
  endif()
  add_compile_options(--coverage)
  # libgcov's own functions stay out of the module's exports, which a test
  # compares with the .def file.
  add_link_options(--coverage LINKER:--exclude-libs,libgcov.a)
endif()
