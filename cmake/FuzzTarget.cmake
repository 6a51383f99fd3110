# mv_fuzz_target(name source [LIBRARIES lib...]): a fuzz target, a source
# file that defines LLVMFuzzerTestOneInput, linked with mvcore and the
# given libraries. Its seed corpus lives in fuzz/corpus/<name>/ and the
# inputs of past findings in fuzz/findings/<name>/.
#
# With MVUPDATE_FUZZ=ON (clang only) the target becomes the libFuzzer
# program <name>_fuzzer. Otherwise it is linked with a small replay driver
# as <name>_replay. Either way ctest runs every input of both folders once
# (test fuzz_replay_<name>), which takes seconds. A target that cannot make
# its run safe on this machine exits with 77, which ctest shows as skipped.
set(MV_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR}/../fuzz)
cmake_path(NORMAL_PATH MV_FUZZ_DIR)

function(mv_fuzz_target name source)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "LIBRARIES")
  set(corpus ${MV_FUZZ_DIR}/corpus/${name})
  set(findings ${MV_FUZZ_DIR}/findings/${name})
  if(MVUPDATE_FUZZ)
    set(program ${name}_fuzzer)
    add_executable(${program} ${source})
    target_link_options(${program} PRIVATE -fsanitize=fuzzer)
    add_test(NAME fuzz_replay_${name}
      COMMAND ${program} -runs=0 ${corpus} ${findings})
  else()
    set(program ${name}_replay)
    add_executable(${program} ${source} ${MV_FUZZ_DIR}/replay_main.cc)
    add_test(NAME fuzz_replay_${name}
      COMMAND ${program} ${corpus} ${findings})
  endif()
  set_tests_properties(fuzz_replay_${name} PROPERTIES SKIP_RETURN_CODE 77)
  target_link_libraries(${program} PRIVATE mvcore ${arg_LIBRARIES})
endfunction()
