# Where things are installed, and a build tree laid out the same way.
#
# Included from the top-level CMakeLists.txt after GNUInstallDirs and before
# any target. It sets:
#   CMAKE_RUNTIME/LIBRARY/ARCHIVE_OUTPUT_DIRECTORY  the build tree's bin/ and
#       library directory, the same relative paths as in the installation, so
#       that one RUNPATH holds for the program in both;
#   QUORVANE_PROGRAM_RUNPATH  the program's RUNPATH: $ORIGIN and the relative
#       path from the installed bin/ to the installed library directory, for
#       example "$ORIGIN/../lib" or "$ORIGIN/../lib/x86_64-linux-gnu".

option(QUORVANE_SYSTEM_PACKAGE
  "Install for a system package: the installed program has no RUNPATH (its \
library lies in the system's library path) and each Debian package gets its \
copyright file and changelog. Use with CMAKE_INSTALL_PREFIX=/usr."
  OFF)
if(QUORVANE_SYSTEM_PACKAGE AND NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(WARNING "QUORVANE_SYSTEM_PACKAGE is meant for CMAKE_INSTALL_PREFIX=/usr, "
    "not ${CMAKE_INSTALL_PREFIX}: the installed program has no RUNPATH and "
    "finds its library only in the system's library path.")
endif()

file(RELATIVE_PATH _quorvane_bin_to_lib
  "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
if(_quorvane_bin_to_lib STREQUAL "")
  set(QUORVANE_PROGRAM_RUNPATH "$ORIGIN")
else()
  set(QUORVANE_PROGRAM_RUNPATH "$ORIGIN/${_quorvane_bin_to_lib}")
endif()

# The build tree mirrors relative install directories. An absolute one (given
# by hand) has no place in the build tree: the build then keeps bin/ and lib/,
# and a program run from the build tree needs LD_LIBRARY_PATH.
set(_quorvane_build_bindir bin)
set(_quorvane_build_libdir lib)
if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(_quorvane_build_bindir "${CMAKE_INSTALL_BINDIR}")
  set(_quorvane_build_libdir "${CMAKE_INSTALL_LIBDIR}")
elseif(NOT WIN32)
  message(WARNING "An absolute CMAKE_INSTALL_BINDIR or CMAKE_INSTALL_LIBDIR: the "
    "program in the build tree does not find its library by itself.")
endif()
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/${_quorvane_build_bindir}")
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/${_quorvane_build_libdir}")
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/${_quorvane_build_libdir}")
