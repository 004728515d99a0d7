# The Windows build's tests besides the unit suites (tests/CMakeLists.txt): the command-line checks,
# run under Wine.
# The command-line tests call the command by one name; under Wine that is a script around the .exe.
set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-bin/tessarin CONTENT
  "#!/bin/sh\nexec '${WINE_RUN}' '$<TARGET_FILE:tessarin>' \"$@\"\n"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
add_test(NAME tessarin_cli COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/tessarin_cli.sh
  ${CMAKE_BINARY_DIR}/wine-bin/tessarin noplot)
set_tests_properties(tessarin_cli PROPERTIES TIMEOUT 900)

# vomark.exe beside a Linux build's vomark on the same scenes (make test-windows names that build).
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-bin/vomark CONTENT
  "#!/bin/sh\nexec '${WINE_RUN}' '$<TARGET_FILE:vomark>' \"$@\"\n"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The module's exports by name, as a host looks them up.
add_test(NAME dlm_exports COMMAND ${CMAKE_SOURCE_DIR}/tests/windows/dlm_exports.sh $<TARGET_FILE:Tessarin>
  DllMain LibClassDesc LibDescription LibNumberClasses LibVersion VomarkModuleResources)

# The command-line tests Linux runs, without the checks that draw or serve the page, through a wrapper
# that writes the names Wine prints (Z:\tmp\x) back as Linux's (/tmp/x) for the comparisons.
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-bin/vomark-unix-names CONTENT
  "#!/bin/sh\nexec '${CMAKE_SOURCE_DIR}/tests/windows/unix-names' '$<TARGET_FILE:vomark>' \"$@\"\n"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
foreach(t cli_tests scene_file_tests editing_cli_tests malformed_scene_tests)
  add_test(NAME ${t} COMMAND ${CMAKE_SOURCE_DIR}/tests/app/${t}.sh ${CMAKE_BINARY_DIR}/wine-bin/vomark-unix-names
    ${CMAKE_BINARY_DIR}/plugins ${CMAKE_SOURCE_DIR}/tests/data nopictures)
  set_tests_properties(${t} PROPERTIES TIMEOUT 900)
endforeach()
# The fault table's rows this build has, each writing call failed in turn: the Windows replace path.
add_test(NAME fault_table COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tests/faults/fault_table.py
  ${CMAKE_BINARY_DIR}/wine-bin/vomark-unix-names ${CMAKE_BINARY_DIR}/wine-bin/tessarin ${CMAKE_BINARY_DIR}/plugins
  ${CMAKE_SOURCE_DIR}/tests/data)
set_tests_properties(fault_table PROPERTIES TIMEOUT 900 ENVIRONMENT
  "FAULT_TABLE_ROWS=vomark record,vomark record --frames,tessarin join,tessarin export,tessarin import,tessarin repair,vomark save")
set(TESSARIN_LINUX_VOMARK "" CACHE FILEPATH "a Linux build's vomark, for the cross-platform tests")
if(TESSARIN_LINUX_VOMARK)
  add_test(NAME cross_platform COMMAND ${CMAKE_SOURCE_DIR}/tests/windows/cross_platform.sh
    ${TESSARIN_LINUX_VOMARK} ${CMAKE_BINARY_DIR}/wine-bin/vomark ${CMAKE_SOURCE_DIR}/tests/data)
  set_tests_properties(cross_platform PROPERTIES TIMEOUT 600)
endif()

# make test-windows's own Wine session, tried in a prefix of its own beside the run's
add_test(NAME wine_session COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/wine_session.sh
  ${CMAKE_BINARY_DIR}/wine-session-test)
# alone: its prefixes being made and torn down load the machine the other Wine tests share
set_tests_properties(wine_session PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
