# Installs everything under PREFIX and checks that every file is in place: both programs, the
# notes, the desktop entry, the icons and the batch tool's manual page.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
  ${BINDIR}/morvane
  ${BINDIR}/morvane-match
  ${MANDIR}/man1/morvane-match.1
  ${DATADIR}/morvane/readme.txt
  ${DATADIR}/applications/morvane.desktop
  ${DATADIR}/icons/hicolor/32x32/apps/morvane.png
  ${DATADIR}/icons/hicolor/256x256/apps/morvane.png)
foreach(file ${expected})
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(STRINGS ${PREFIX}/${DATADIR}/applications/morvane.desktop entry)
foreach(line "Exec=morvane" "Icon=morvane" "Type=Application")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "desktop entry lacks ${line}")
  endif()
endforeach()
# The installed batch tool runs and says its version.
execute_process(COMMAND ${PREFIX}/${BINDIR}/morvane-match --version
                RESULT_VARIABLE result OUTPUT_VARIABLE version)
if(NOT result EQUAL 0 OR NOT version MATCHES "^morvane-match [0-9]+\\.[0-9]+")
  message(FATAL_ERROR "installed morvane-match --version: ${result} ${version}")
endif()
