# mv_fuzz_target(name source): a fuzz target, a source file that defines
# LLVMFuzzerTestOneInput. Its seed corpus lives in fuzz/corpus/<name>/ and
# the inputs of past findings in fuzz/findings/<name>/.
#
# With MVUPDATE_FUZZ=ON (clang only) the target becomes the libFuzzer
# program <name>_fuzzer. Otherwise it is linked with a small replay driver
# as <name>_replay. Either way ctest runs every input of both folders once
# (test fuzz_replay_<name>), which takes seconds.
set(MV_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR}/../fuzz)
cmake_path(NORMAL_PATH MV_FUZZ_DIR)

function(mv_fuzz_target name source)
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
  target_link_libraries(${program} PRIVATE mvcore)
endfunction()
