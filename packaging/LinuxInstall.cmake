# Install rules and package settings for Linux. Included from
# packaging/CMakeLists.txt, after every target exists.

find_program(GZIP_EXECUTABLE gzip REQUIRED)

# Installed directories stay readable by everyone, whatever the umask of the
# user who installs or packages.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)

# Compresses source into build_dir/name.gz the way Debian wants it: maximum
# compression, no file name and no time stamp in the header, so that the same
# input always gives the same bytes. Returns the .gz path in out_var.
function(quorvane_gzip source name out_var)
  set(plain "${CMAKE_CURRENT_BINARY_DIR}/${name}")
  add_custom_command(OUTPUT "${plain}.gz"
    COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${plain}"
    COMMAND ${GZIP_EXECUTABLE} -9 -n -f "${plain}"
    DEPENDS "${source}"
    COMMENT "Compressing ${name}"
    VERBATIM)
  set(${out_var} "${plain}.gz" PARENT_SCOPE)
endfunction()

# An install path as the install script sees it: under DESTDIR, and under the
# prefix of the install (cmake --install --prefix may change it) unless dir is
# absolute.
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
  set(_quorvane_installed_program "\$ENV{DESTDIR}${CMAKE_INSTALL_BINDIR}/quorvane-demo")
else()
  set(_quorvane_installed_program
    "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvane-demo")
endif()

# --- The program --------------------------------------------------------------

install(TARGETS quorvane-demo
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
if(QUORVANE_SYSTEM_PACKAGE)
  # A system package puts the library in the system's library path, where the
  # loader finds it; Debian forbids a RUNPATH there. The program in the build
  # tree keeps its RUNPATH, so it still runs from the build tree.
  install(CODE "file(RPATH_REMOVE FILE \"${_quorvane_installed_program}\")"
    COMPONENT program)
endif()

quorvane_gzip("${PROJECT_SOURCE_DIR}/man/quorvane-demo.1" quorvane-demo.1 _quorvane_man_gz)
add_custom_target(quorvane_man ALL DEPENDS "${_quorvane_man_gz}")
install(FILES "${_quorvane_man_gz}"
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)

if(EXISTS "${PROJECT_SOURCE_DIR}/README.md")
  install(FILES "${PROJECT_SOURCE_DIR}/README.md"
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
endif()
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE"
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

# --- The library and what other programs need to use it ----------------------

if(QUORVANE_INSTALL_LIBRARY)
  install(TARGETS quorvane
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT library
      NAMELINK_COMPONENT development)
  install(FILES "${PROJECT_SOURCE_DIR}/sensor/quorvane.h"
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

  # The pkg-config file finds the installation relative to itself, so that an
  # installation moved elsewhere still works. A system package names the
  # system's directories, which pkg-config then leaves out of its flags.
  if(QUORVANE_SYSTEM_PACKAGE)
    set(QUORVANE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH _quorvane_pc_to_prefix
      "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
    set(QUORVANE_PC_PREFIX "\${pcfiledir}/${_quorvane_pc_to_prefix}")
  endif()
  foreach(_kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${_kind}}")
      set(QUORVANE_PC_${_kind} "${CMAKE_INSTALL_${_kind}}")
    else()
      set(QUORVANE_PC_${_kind} "\${prefix}/${CMAKE_INSTALL_${_kind}}")
    endif()
  endforeach()
  configure_file(quorvane.pc.in quorvane.pc @ONLY)
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/quorvane.pc"
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

# --- Packages -------------------------------------------------------------------

set(CPACK_PACKAGE_NAME quorvane-demo)
set(CPACK_PACKAGE_VENDOR "The quorvane-demo developers")
set(CPACK_PACKAGE_CONTACT "${QUORVANE_CONTACT}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")

if(NOT QUORVANE_SYSTEM_PACKAGE)
  # One archive of the whole relocatable installation.
  set(CPACK_GENERATOR TGZ)
  return()
endif()

include(${CMAKE_CURRENT_SOURCE_DIR}/DebianPackages.cmake)
