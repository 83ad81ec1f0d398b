# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) after it has staged each package's
# files and before it builds the packages.
#
# dpkg-shlibdeps maps each library that a binary needs to the package that
# provides it, normally through the dpkg database. libquorvane1 is built here
# and not installed, so the program's staging directory gets a
# debian/shlibs.local with the library package's own shlibs line: dpkg-shlibdeps
# reads that file first. cpack removes the debian/ directory after the run, so
# the file never reaches a package.

set(_staging "${CPACK_TEMPORARY_DIRECTORY}/program")
if(NOT IS_DIRECTORY "${_staging}" OR NOT CPACK_QUORVANE_SHLIBS_LINE)
  return()
endif()
file(WRITE "${_staging}/debian/shlibs.local" "${CPACK_QUORVANE_SHLIBS_LINE}\n")
