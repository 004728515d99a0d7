# The Windows build (make windows, with cmake/mingw-w64-x86_64.cmake): the format core, the plug-in's
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

# Debian's header-only JSON and command-line libraries serve both platforms; only their folders are
# given to the cross compiler, never the rest of /usr/include.
set(TESSARIN_WIN_INCLUDE ${CMAKE_BINARY_DIR}/include)
file(MAKE_DIRECTORY ${TESSARIN_WIN_INCLUDE})
foreach(dir nlohmann CLI)
  if(NOT EXISTS ${TESSARIN_WIN_INCLUDE}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${TESSARIN_WIN_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()
add_library(win_header_libs INTERFACE)
target_include_directories(win_header_libs SYSTEM INTERFACE ${TESSARIN_WIN_INCLUDE})

# Cache format: std only, with the file seam of this platform.
file(GLOB FORMAT_SOURCES CONFIGURE_DEPENDS cache/format/*.cpp)
list(FILTER FORMAT_SOURCES EXCLUDE REGEX "_posix\\.cpp$")
add_library(tessarin_format STATIC ${FORMAT_SOURCES})
target_include_directories(tessarin_format PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tessarin_format PUBLIC shell32) # CommandLineToArgvW

add_library(tessarin_play STATIC cache/play/play.cpp)
target_include_directories(tessarin_play PUBLIC ${CMAKE_SOURCE_DIR})

# tessarin: every verb but plot, which draws with Cairo (tools/tessarin/plot_unavailable.cpp says so).
add_library(tessarin_tool STATIC tools/tessarin/files.cpp tools/tessarin/report.cpp tools/tessarin/rows.cpp
  tools/tessarin/diff.cpp tools/tessarin/repair.cpp tools/tessarin/import.cpp tools/tessarin/progress.cpp
  tools/tessarin/plot_unavailable.cpp)
target_link_libraries(tessarin_tool PUBLIC tessarin_format win_header_libs)
add_executable(tessarin tools/tessarin/main.cpp)
target_link_libraries(tessarin PRIVATE tessarin_tool tessarin_version)

if(TESSARIN_TESTS)
  enable_testing()
  # GoogleTest from Debian's source package, built with this compiler
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_executable(progress_tests tests/tools/test_progress.cpp)
  target_link_libraries(progress_tests PRIVATE tessarin_tool gtest_main)
  add_executable(win_format_tests tests/cache/test_files.cpp)
  target_link_libraries(win_format_tests PRIVATE tessarin_format gtest_main)
  foreach(t progress_tests win_format_tests)
    add_test(NAME ${t} COMMAND ${t})
  endforeach()
  # The command-line tests call the command by one name; under Wine that is a script around the .exe.
  set(WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/wine-bin/tessarin CONTENT
    "#!/bin/sh\nexec '${WINE_RUN}' '$<TARGET_FILE:tessarin>' \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  add_test(NAME tessarin_cli COMMAND ${CMAKE_SOURCE_DIR}/tests/tools/tessarin_cli.sh
    ${CMAKE_BINARY_DIR}/wine-bin/tessarin noplot)
  set_tests_properties(tessarin_cli PROPERTIES TIMEOUT 900)
  # make test-windows's own Wine session, tried in a prefix of its own beside the run's
  add_test(NAME wine_session COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/wine_session.sh
    ${CMAKE_BINARY_DIR}/wine-session-test)
  set_tests_properties(wine_session PROPERTIES TIMEOUT 900)
endif()
