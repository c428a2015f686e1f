# The zip for Windows, moravine-VERSION-windows-x86_64.zip, made by
# `cpack -G ZIP` in a Windows build (scripts/build-windows makes it):
#
#   moravine-VERSION-windows-x86_64/
#     moravine.exe         the command line
#     moravine-gui.exe     the window, when this build has it
#     agrep.exe            found by both beside themselves
#     moravine-gui.html    the help page, where the window looks for it
#     README.txt           for Windows users, with Windows line ends
#
# Each program is one static .exe: nothing else needs installing.
install(TARGETS moravine agrep RUNTIME DESTINATION .)
# The window's target is made before the packaging is read (the top
# CMakeLists.txt adds packaging/ last).
if(TARGET moravine-gui)
  install(TARGETS moravine-gui RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/help.html DESTINATION . RENAME moravine-gui.html)
configure_file(${PROJECT_SOURCE_DIR}/docs/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)

set(CPACK_PACKAGE_NAME moravine)
set(CPACK_PACKAGE_VENDOR "Moravine")
set(CPACK_PACKAGE_FILE_NAME moravine-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_GENERATOR ZIP)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
