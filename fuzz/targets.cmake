# One call per libFuzzer target, wherever its code lives:
#   tessarin_fuzz_target(NAME SOURCE file.cpp LIBS lib... [DEFINES def...])
# makes, with -DTESSARIN_FUZZ=ON (clang), the fuzzer fuzz_NAME and a ctest entry that runs it for
# TESSARIN_FUZZ_SMOKE_SECONDS through fuzz/run.sh; and in the normal test build (gcc, sanitizers)
# replay_NAME, the same code under a plain main, with a ctest entry replaying every file of
# tests/data/regressions/NAME/ (inputs that once broke it) and of its seeds fuzz/corpus/NAME/.
# Its dictionary, when it has one, is fuzz/NAME.dict.
set(TESSARIN_FUZZ_SMOKE_SECONDS 3 CACHE STRING "seconds each fuzz target runs under ctest in the fuzz build")
set(TESSARIN_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined)

function(tessarin_fuzz_target name)
  if(WIN32)
    return() # libFuzzer is clang's on Linux; the inputs' replays run there too, not once more under Wine
  endif()
  cmake_parse_arguments(F "" "SOURCE" "LIBS;DEFINES" ${ARGN})
  if(TESSARIN_FUZZ)
    add_executable(fuzz_${name} ${F_SOURCE})
    target_link_libraries(fuzz_${name} PRIVATE ${F_LIBS})
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
    target_compile_definitions(fuzz_${name} PRIVATE ${F_DEFINES})
    target_compile_options(fuzz_${name} PRIVATE ${TESSARIN_FUZZ_FLAGS})
    target_link_options(fuzz_${name} PRIVATE ${TESSARIN_FUZZ_FLAGS})
    set_property(GLOBAL APPEND PROPERTY TESSARIN_FUZZ_TARGETS ${name})
    add_test(NAME fuzz_${name}
             COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run.sh ${CMAKE_BINARY_DIR} ${TESSARIN_FUZZ_SMOKE_SECONDS} ${name})
    set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 300)
  endif()
  if(TESSARIN_TESTS)
    add_executable(replay_${name} ${F_SOURCE} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(replay_${name} PRIVATE ${F_LIBS})
    target_include_directories(replay_${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
    target_compile_definitions(replay_${name} PRIVATE ${F_DEFINES})
    add_test(NAME replay_${name}
             COMMAND replay_${name} ${CMAKE_SOURCE_DIR}/tests/data/regressions/${name}
                     ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    set_tests_properties(replay_${name} PROPERTIES
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp")
  endif()
endfunction()

# After every target is declared: `fuzzers` builds them all, and fuzz_targets.txt lists them for
# fuzz/run.sh (make fuzz).
function(tessarin_fuzz_finish)
  if(NOT TESSARIN_FUZZ)
    return()
  endif()
  get_property(names GLOBAL PROPERTY TESSARIN_FUZZ_TARGETS)
  set(executables "")
  foreach(name ${names})
    list(APPEND executables fuzz_${name})
  endforeach()
  add_custom_target(fuzzers DEPENDS ${executables})
  list(JOIN names "\n" lines)
  file(WRITE ${CMAKE_BINARY_DIR}/fuzz_targets.txt "${lines}\n")
endfunction()
