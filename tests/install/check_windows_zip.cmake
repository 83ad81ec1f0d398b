# Builds the Windows .zip with cpack and checks it: one folder holding
# quorvane-demo.exe, README.txt and LICENSE.txt, the two text files with CR LF
# line ends only, and no Quorvane.dll or any other DLL.
#
# cmake -DCPACK=<cpack> -DBUILD_DIR=<build tree> -DWORK=<scratch> -P check_windows_zip.cmake

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/unpacked")
execute_process(COMMAND "${CPACK}" -G ZIP --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed")
endif()
file(GLOB zips "${WORK}/*.zip")
list(LENGTH zips count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one .zip in ${WORK}, found: ${zips}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${zips}"
  WORKING_DIRECTORY "${WORK}/unpacked" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${zips}")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${WORK}/unpacked" "${WORK}/unpacked/*")
list(SORT files)
get_filename_component(folder "${zips}" NAME_WLE)
set(expected "${folder}/LICENSE.txt" "${folder}/README.txt" "${folder}/quorvane-demo.exe")
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "the .zip holds\n  ${files}\nexpected\n  ${expected}")
endif()
message(STATUS "the .zip holds ${files}")

file(READ "${WORK}/unpacked/${folder}/quorvane-demo.exe" magic LIMIT 2 HEX)
if(NOT magic STREQUAL "4d5a") # "MZ"
  message(FATAL_ERROR "quorvane-demo.exe is not a Windows executable")
endif()

foreach(text README.txt LICENSE.txt)
  file(READ "${WORK}/unpacked/${folder}/${text}" hex HEX)
  # Pairs of hex digits: every 0a must follow a 0d, and the file ends in one.
  string(REGEX MATCHALL "[0-9a-f][0-9a-f]" bytes "${hex}")
  set(previous "")
  set(lines 0)
  foreach(byte IN LISTS bytes)
    if(byte STREQUAL "0a")
      if(NOT previous STREQUAL "0d")
        message(FATAL_ERROR "${text} has a line end without CR")
      endif()
      math(EXPR lines "${lines} + 1")
    elseif(previous STREQUAL "0d")
      message(FATAL_ERROR "${text} has a CR without LF")
    endif()
    set(previous "${byte}")
  endforeach()
  if(NOT previous STREQUAL "0a" OR lines LESS 2)
    message(FATAL_ERROR "${text} does not end with CR LF")
  endif()
  message(STATUS "${text}: ${lines} lines, each ending in CR LF")
endforeach()
