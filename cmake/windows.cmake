# The Windows build's own settings (make windows, with cmake/mingw-w64-x86_64.cmake), included by the
# top-level CMakeLists.txt, which describes the targets for both platforms.
# GCC 12 reports a false -Wrestrict in libstdc++'s own string concatenation once inlined at -O2
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  add_compile_options(-Wno-restrict)
endif()
# one .exe that needs no MinGW runtime DLLs beside it under Wine or on a user's machine
add_link_options(-static -static-libgcc -static-libstdc++)
# UTF-8 paths go through the platform seams; nothing here wants the ANSI code page's names
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

# Debian's header-only JSON, command-line and OBJ libraries, and xxHash's header (used whole, with
# XXH_INLINE_ALL, so no library of it is linked), serve both platforms: the same targets the Linux
# build finds, over a folder that holds only these. tinyobjloader's code is compiled into the scene
# library (app/scene/obj_reader_windows.cpp), as Debian's library of it is Linux's.
set(TESSARIN_WIN_INCLUDE ${CMAKE_BINARY_DIR}/include)
file(MAKE_DIRECTORY ${TESSARIN_WIN_INCLUDE})
foreach(dir nlohmann CLI xxhash.h tiny_obj_loader.h)
  if(NOT EXISTS ${TESSARIN_WIN_INCLUDE}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${TESSARIN_WIN_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()
foreach(target nlohmann_json::nlohmann_json CLI11::CLI11 tinyobjloader::tinyobjloader)
  add_library(${target} INTERFACE IMPORTED)
  target_include_directories(${target} SYSTEM INTERFACE ${TESSARIN_WIN_INCLUDE})
endforeach()
