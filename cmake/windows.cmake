# The Windows build (make windows, with cmake/mingw-w64-x86_64.cmake): sel/, the plug-in's
# code, the host runtime and the tessarin tool, as .exe files that run under Wine. Included by the
# top-level CMakeLists.txt in place of the Linux targets; only what builds for Windows is listed here.
# GCC 12 reports a false -Wrestrict in libstdc++'s own string concatenation once inlined at -O2
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  add_compile_options(-Wno-restrict)
endif()
# one .exe that needs no MinGW runtime DLLs beside it under Wine or on a user's machine
add_link_options(-static -static-libgcc -static-libstdc++)
# UTF-8 paths go through the platform seams; nothing here wants the ANSI code page's names
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

# Debian's header-only JSON and command-line libraries, and xxHash's header (used whole, with
# XXH_INLINE_ALL, so no library of it is linked), serve both platforms; only these are given to the
# cross compiler, never the rest of /usr/include.
set(TESSARIN_WIN_INCLUDE ${CMAKE_BINARY_DIR}/include)
file(MAKE_DIRECTORY ${TESSARIN_WIN_INCLUDE})
foreach(dir nlohmann CLI xxhash.h)
  if(NOT EXISTS ${TESSARIN_WIN_INCLUDE}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${TESSARIN_WIN_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()
add_library(win_header_libs INTERFACE)
target_include_directories(win_header_libs SYSTEM INTERFACE ${TESSARIN_WIN_INCLUDE})

# sel: the host-free library, with this platform's file seam.
file(GLOB SEL_SOURCES CONFIGURE_DEPENDS sel/*.cpp)
list(FILTER SEL_SOURCES EXCLUDE REGEX "files_posix\\.cpp$")
add_library(sel STATIC ${SEL_SOURCES})
target_include_directories(sel PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(sel PUBLIC shell32) # CommandLineToArgvW

# console: progress, exit statuses, option wording, and the console's stop events.
file(GLOB CONSOLE_SOURCES CONFIGURE_DEPENDS console/*.cpp)
list(FILTER CONSOLE_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
add_library(console STATIC ${CONSOLE_SOURCES})
target_link_libraries(console PUBLIC sel)

# The host runtime as vomark.dll: with no dllexport in its code, the linker exports every function,
# which is what plug-ins link against (its import library) and what vomark.exe and the tests use.
file(GLOB HOST_RUNTIME_SOURCES CONFIGURE_DEPENDS host/runtime/*.cpp)
list(FILTER HOST_RUNTIME_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
add_library(vomark_host SHARED ${HOST_RUNTIME_SOURCES})
# its import library in lib/, apart from the one the linker writes for vomark.exe under the same name
set_target_properties(vomark_host PROPERTIES OUTPUT_NAME vomark PREFIX "" ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
# a plug-in sees the SDK alone; the runtime's own headers (host/runtime/, as "runtime/...") are for
# what embeds the host: the app, the tests and the benchmarks, through vomark_runtime
target_include_directories(vomark_host PUBLIC host/sdk PRIVATE host)
add_library(vomark_runtime INTERFACE)
target_include_directories(vomark_runtime INTERFACE host)
target_link_libraries(vomark_runtime INTERFACE vomark_host)
target_link_libraries(vomark_host PRIVATE sel)
# only the runtime's own functions: sel's file seam and the compiler's runtime stay inside it
target_link_options(vomark_host PRIVATE
  -Wl,--exclude-libs,libsel.a:libstdc++.a:libgcc.a:libgcc_eh.a:libwinpthread.a:libpthread.a:libmingwex.a)

# The plug-in: Tessarin.dlm, a DLL exporting the module's functions and its resource table.
file(GLOB_RECURSE PLUGIN_SOURCES CONFIGURE_DEPENDS plugin/*.cpp)
add_library(tessarin_plugin OBJECT ${PLUGIN_SOURCES})
target_include_directories(tessarin_plugin PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tessarin_plugin PUBLIC vomark_host sel)
add_library(Tessarin SHARED $<TARGET_OBJECTS:tessarin_plugin>)
target_link_libraries(Tessarin PRIVATE vomark_host sel)
set_target_properties(Tessarin PROPERTIES PREFIX "" SUFFIX ".dlm" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins)

# vomark.exe: every verb that needs neither Cairo nor the web page; demo, view and --png say they
# are not in this build.
if(NOT EXISTS ${TESSARIN_WIN_INCLUDE}/tiny_obj_loader.h)
  file(CREATE_LINK /usr/include/tiny_obj_loader.h ${TESSARIN_WIN_INCLUDE}/tiny_obj_loader.h SYMBOLIC)
endif()
file(GLOB SCENE_SOURCES CONFIGURE_DEPENDS app/scene/*.cpp)
list(FILTER SCENE_SOURCES EXCLUDE REGEX "_posix\\.cpp$|/scene_pictures\\.cpp$")
add_library(vomark_scene STATIC ${SCENE_SOURCES})
target_include_directories(vomark_scene PUBLIC app)
target_link_libraries(vomark_scene PUBLIC vomark_runtime sel console win_header_libs)
file(GLOB VERB_SOURCES CONFIGURE_DEPENDS app/verbs/*.cpp)
list(FILTER VERB_SOURCES EXCLUDE REGEX "_posix\\.cpp$|/(demo|requested_pictures)\\.cpp$")
add_library(vomark_app STATIC ${VERB_SOURCES} app/view/unavailable_windows.cpp)
target_link_libraries(vomark_app PUBLIC vomark_scene)
add_executable(vomark app/main.cpp)
target_link_libraries(vomark PRIVATE vomark_app tessarin_version)

# tessarin: every verb but plot, which draws with Cairo (tools/tessarin/plot_unavailable.cpp says so).
add_library(tessarin_tool STATIC tools/tessarin/inputs.cpp tools/tessarin/command_line.cpp tools/tessarin/report.cpp tools/tessarin/rows.cpp
  tools/tessarin/diff.cpp tools/tessarin/repair.cpp tools/tessarin/import.cpp
  tools/tessarin/plot_unavailable.cpp tools/tessarin/plot_verb.cpp tools/tessarin/join.cpp)
target_link_libraries(tessarin_tool PUBLIC sel console win_header_libs)
add_executable(tessarin tools/tessarin/main.cpp)
target_link_libraries(tessarin PRIVATE tessarin_tool tessarin_version)

if(TESSARIN_TESTS)
  enable_testing()
  # GoogleTest from Debian's source package, built with this compiler
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # The unit test suites of the Linux build (tests/CMakeLists.txt) that need no pictures. Each is one
  # ctest test: gtest's discovery would start every .exe under Wine at build time, and every case
  # would then pay a Wine start of its own.
  foreach(variant good badversion noexport)
    add_library(test_module_${variant} SHARED tests/host/fixtures/test_module.cpp)
    target_link_libraries(test_module_${variant} PRIVATE vomark_host)
    string(TOUPPER ${variant} VARIANT)
    target_compile_definitions(test_module_${variant} PRIVATE TEST_MODULE_${VARIANT})
    # a DLL is a runtime file on Windows; its import library stays out of the folder the loader reads
    set_target_properties(test_module_${variant} PROPERTIES PREFIX "" SUFFIX ".dlm"
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_plugins/${variant}
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_plugins/lib)
  endforeach()
  file(GLOB WIN_HOST_TESTS CONFIGURE_DEPENDS tests/host/*.cpp)
  add_executable(host_tests ${WIN_HOST_TESTS})
  target_link_libraries(host_tests PRIVATE vomark_runtime gtest_main)
  target_include_directories(host_tests PRIVATE tests)
  target_compile_definitions(host_tests PRIVATE TEST_PLUGINS_DIR="${CMAKE_BINARY_DIR}/test_plugins")
  add_dependencies(host_tests test_module_good test_module_badversion test_module_noexport)

  file(GLOB WIN_SEL_TESTS CONFIGURE_DEPENDS tests/sel/*.cpp)
  add_executable(sel_tests ${WIN_SEL_TESTS})
  target_link_libraries(sel_tests PRIVATE sel gtest_main)
  target_include_directories(sel_tests PRIVATE tests)

  file(GLOB_RECURSE WIN_PLUGIN_TESTS CONFIGURE_DEPENDS tests/plugin/*.cpp)
  add_executable(plugin_tests ${WIN_PLUGIN_TESTS})
  target_link_libraries(plugin_tests PRIVATE tessarin_plugin vomark_runtime gtest_main)
  target_include_directories(plugin_tests PRIVATE tests)

  file(GLOB WIN_TOOL_TESTS CONFIGURE_DEPENDS tests/tools/*.cpp tests/console/*.cpp)
  add_executable(tool_tests ${WIN_TOOL_TESTS})
  target_link_libraries(tool_tests PRIVATE tessarin_tool tessarin_plugin vomark_runtime gtest_main)
  target_include_directories(tool_tests PRIVATE tests)

  add_executable(app_tests tests/app/test_scene_regressions.cpp tests/app/test_interrupts.cpp)
  target_link_libraries(app_tests PRIVATE vomark_app gtest_main)
  target_include_directories(app_tests PRIVATE tests)

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
endif()
