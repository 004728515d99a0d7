# The tests of the Windows build, included by tests/CMakeLists.txt in place of Linux's: the unit suites
# that need no pictures and the command-line checks, all run under Wine.
# GoogleTest from Debian's source package, built with this compiler
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# The unit test suites of the Linux build (tests/CMakeLists.txt) that need no pictures. Each is one
# ctest test: gtest's discovery would start every .exe under Wine at build time, and every case
# would then pay a Wine start of its own.
foreach(variant good badversion noexport)
  add_library(test_module_${variant} SHARED host/fixtures/test_module.cpp)
  target_link_libraries(test_module_${variant} PRIVATE vomark_host)
  string(TOUPPER ${variant} VARIANT)
  target_compile_definitions(test_module_${variant} PRIVATE TEST_MODULE_${VARIANT})
  # a DLL is a runtime file on Windows; its import library stays out of the folder the loader reads
  set_target_properties(test_module_${variant} PROPERTIES PREFIX "" SUFFIX ".dlm"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_plugins/${variant}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_plugins/lib)
endforeach()
file(GLOB WIN_HOST_TESTS CONFIGURE_DEPENDS host/*.cpp)
add_executable(host_tests ${WIN_HOST_TESTS})
target_link_libraries(host_tests PRIVATE vomark_runtime gtest_main)
target_include_directories(host_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(host_tests PRIVATE TEST_PLUGINS_DIR="${CMAKE_BINARY_DIR}/test_plugins")
add_dependencies(host_tests test_module_good test_module_badversion test_module_noexport)

file(GLOB WIN_SEL_TESTS CONFIGURE_DEPENDS sel/*.cpp)
add_executable(sel_tests ${WIN_SEL_TESTS})
target_link_libraries(sel_tests PRIVATE sel gtest_main)
target_include_directories(sel_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

file(GLOB_RECURSE WIN_PLUGIN_TESTS CONFIGURE_DEPENDS plugin/*.cpp)
add_executable(plugin_tests ${WIN_PLUGIN_TESTS})
target_link_libraries(plugin_tests PRIVATE tessarin_plugin vomark_runtime gtest_main)
target_include_directories(plugin_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

file(GLOB WIN_TOOL_TESTS CONFIGURE_DEPENDS tools/*.cpp console/*.cpp)
add_executable(tool_tests ${WIN_TOOL_TESTS})
target_link_libraries(tool_tests PRIVATE tessarin_tool tessarin_plugin vomark_runtime gtest_main)
target_include_directories(tool_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

add_executable(app_tests app/test_scene_regressions.cpp app/test_interrupts.cpp)
target_link_libraries(app_tests PRIVATE vomark_app gtest_main)
target_include_directories(app_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

foreach(t sel_tests host_tests plugin_tests tool_tests app_tests)
  add_test(NAME ${t} COMMAND ${t})
endforeach()
# a few seconds each under Wine; a program that hangs there is stopped well before ctest's default
set_tests_properties(sel_tests host_tests plugin_tests tool_tests app_tests PROPERTIES TIMEOUT 300)
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
