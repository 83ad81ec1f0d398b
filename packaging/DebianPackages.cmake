# The Debian packages, built by cpack from a build with
# QUORVANE_SYSTEM_PACKAGE=ON and CMAKE_INSTALL_PREFIX=/usr (the linux-deb
# preset):
#   libquorvane1     the shared library (component library)
#   libquorvane-dev  the header, the libquorvane.so link and quorvane.pc
#                    (component development)
#   quorvane-demo    the program, its man page and the README (component
#                    program)
# Each holds the copyright file and compressed changelog that Debian requires
# in /usr/share/doc/<package>.

if(NOT QUORVANE_INSTALL_LIBRARY)
  message(WARNING "No sensor library to package: the Debian packages need the "
    "real library, not the stand-in. cpack will build quorvane-demo alone, and "
    "it will not install.")
endif()

# --- Files that each package carries ------------------------------------------

# The copyright file in Debian's machine-readable format, with the licence
# text taken from LICENSE so that the two never differ. Debian names the MIT
# licence "Expat".
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _quorvane_licence)
string(FIND "${_quorvane_licence}" "Permission is hereby granted" _quorvane_terms_at)
string(SUBSTRING "${_quorvane_licence}" ${_quorvane_terms_at} -1 _quorvane_terms)
string(STRIP "${_quorvane_terms}" _quorvane_terms)
string(REPLACE "\n\n" "\n.\n" _quorvane_terms "${_quorvane_terms}")
string(REPLACE "\n" "\n " _quorvane_terms "${_quorvane_terms}")
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: quorvane-demo\n"
  "Upstream-Contact: ${QUORVANE_CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 The quorvane-demo developers\n"
  "License: Expat\n"
  " ${_quorvane_terms}\n")

# Debian takes the package version from the changelog's latest entry: it must
# be this version.
file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/changelog" _quorvane_latest LIMIT_COUNT 1)
if(NOT _quorvane_latest MATCHES "^quorvane-demo \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${_quorvane_latest}': add an "
    "entry for version ${PROJECT_VERSION} at its top (dch -v ${PROJECT_VERSION}).")
endif()
quorvane_gzip("${CMAKE_CURRENT_SOURCE_DIR}/changelog" changelog _quorvane_changelog_gz)
add_custom_target(quorvane_changelog ALL DEPENDS "${_quorvane_changelog_gz}")

set(_quorvane_packages
  program quorvane-demo utils
  library libquorvane1 libs
  development libquorvane-dev libdevel)
set(CPACK_COMPONENTS_ALL)
while(_quorvane_packages)
  list(POP_FRONT _quorvane_packages _component _package _section)
  if(NOT QUORVANE_INSTALL_LIBRARY AND NOT _component STREQUAL "program")
    continue()
  endif()
  string(TOUPPER ${_component} _upper)
  list(APPEND CPACK_COMPONENTS_ALL ${_component})
  set(CPACK_DEBIAN_${_upper}_PACKAGE_NAME ${_package})
  set(CPACK_DEBIAN_${_upper}_PACKAGE_SECTION ${_section})
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/copyright" "${_quorvane_changelog_gz}"
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package} COMPONENT ${_component})
endwhile()

# --- Package settings -----------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE quorvane-demo)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# Dependencies come from dpkg-shlibdeps, which reads the libraries that each
# binary needs. The library package declares what its users need in a shlibs
# file; the program's dependency on it is found through the same line, handed
# to dpkg-shlibdeps while it runs on the program (DebianShlibs.cmake), because
# libquorvane1 is not installed on the machine that builds the packages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "../library/${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_SOURCE_DIR}/DebianShlibs.cmake")
set(QUORVANE_SHLIBS_LINE "libquorvane 1 libquorvane1 (>= ${PROJECT_VERSION})")
set(CPACK_QUORVANE_SHLIBS_LINE "${QUORVANE_SHLIBS_LINE}")

# The loader's cache learns of the library through libc's ldconfig trigger.
# (cpack also writes postinst and postrm scripts that call ldconfig for any
# package with a library in /usr/lib; they are redundant but harmless.)
configure_file(libquorvane1.triggers "${CMAKE_CURRENT_BINARY_DIR}/triggers" COPYONLY)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_BINARY_DIR}/triggers")

# The header and pkg-config file are of no use without the library itself.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)

set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
"test run of the Quorvane sensor library
quorvane-demo brings the Quorvane sensor library up and prints whether that
worked, has the library describe the machine's sensors in a file, then prints
twenty samples of the CPU, GPU and mainboard temperatures and a fan speed,
half a second apart, and keeps a copy of everything it prints in a log.")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
"sensor library reading temperatures and a fan speed
libquorvane reads four values from the machine's hardware sensors through
libsensors: the CPU, GPU and mainboard temperatures in degrees Celsius and a
fan speed in RPM. It chooses each sensor by chip name and label and follows
the system's sensors configuration.
.
This package holds the shared library.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"sensor library reading temperatures and a fan speed - development files
libquorvane reads four values from the machine's hardware sensors through
libsensors: the CPU, GPU and mainboard temperatures in degrees Celsius and a
fan speed in RPM.
.
This package holds the header, the link to the shared library and the
pkg-config file needed to build programs that use libquorvane.")
