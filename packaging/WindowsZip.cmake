# The Windows package: one .zip holding a folder with quorvane-demo.exe,
# README.txt and LICENSE.txt, both text files with CR LF line ends so that
# Notepad shows them right. It holds no Quorvane.dll: the user brings the
# vendor's and puts it beside the program. Included from
# packaging/CMakeLists.txt.

configure_file(README-windows.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file("${PROJECT_SOURCE_DIR}/LICENSE" LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

# Everything at the top of the folder: the program finds Quorvane.dll beside
# itself.
install(TARGETS quorvane-demo RUNTIME DESTINATION . COMPONENT program)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/README.txt" "${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt"
  DESTINATION . COMPONENT program)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME quorvane-demo)
set(CPACK_PACKAGE_VENDOR "The quorvane-demo developers")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
