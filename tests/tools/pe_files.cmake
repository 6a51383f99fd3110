# Windows program files for the version tools' tests, built from the .rc
# files in tools/data with the MinGW-w64 cross tools: 32- and 64-bit,
# programs and libraries.
find_program(MV_CPP cpp REQUIRED)
foreach(bits 32 64)
  if(bits EQUAL 32)
    set(triple i686-w64-mingw32)
  else()
    set(triple x86_64-w64-mingw32)
  endif()
  foreach(tool windres as ld)
    find_program(MV_${tool}${bits} ${triple}-${tool} REQUIRED)
  endforeach()
endforeach()

set(MV_PE_DIR ${CMAKE_CURRENT_BINARY_DIR}/tools_pe)
set(MV_PE_DATA ${CMAKE_CURRENT_LIST_DIR}/data)
set(MV_PE_FILES)

# mv_pe_file(file bits dll|exe [rc]): links the entry point and the
# resources of `rc` (none when omitted) into ${MV_PE_DIR}/file.
function(mv_pe_file file bits kind)
  set(out ${MV_PE_DIR}/${file})
  set(entry ${MV_PE_DIR}/entry${bits}.o)
  set(objects ${entry})
  set(depends ${entry})
  if(ARGC GREATER 3)
    set(rc ${MV_PE_DATA}/${ARGV3})
    set(res ${MV_PE_DIR}/${file}.res.o)
    add_custom_command(OUTPUT ${res}
      COMMAND ${MV_windres${bits}} --preprocessor=${MV_CPP} -c 65001
              -O coff ${rc} ${res}
      DEPENDS ${rc} VERBATIM)
    list(APPEND objects ${res})
    list(APPEND depends ${res})
  endif()
  set(flags --no-insert-timestamp -e start)
  if(kind STREQUAL "dll")
    list(APPEND flags --dll)
  endif()
  add_custom_command(OUTPUT ${out}
    COMMAND ${MV_ld${bits}} ${flags} ${objects} -o ${out}
    DEPENDS ${depends} VERBATIM)
  set(MV_PE_FILES ${MV_PE_FILES} ${out} PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${MV_PE_DIR})
foreach(bits 32 64)
  add_custom_command(OUTPUT ${MV_PE_DIR}/entry${bits}.o
    COMMAND ${MV_as${bits}} ${MV_PE_DATA}/entry.s -o ${MV_PE_DIR}/entry${bits}.o
    DEPENDS ${MV_PE_DATA}/entry.s VERBATIM)
endforeach()

mv_pe_file(Merivane.exe 64 exe merivane.rc)
mv_pe_file(QorinMVCore.dll 32 dll core.rc)
mv_pe_file(QorinSetup.dll 32 dll setup.rc)
mv_pe_file(POS.exe 64 exe pos.rc)
mv_pe_file(German.exe 32 exe german.rc)
mv_pe_file(Languages.dll 64 dll languages.rc)
mv_pe_file(Neutral.dll 32 dll neutral.rc)
mv_pe_file(FirstLanguage.dll 64 dll firstlang.rc)
mv_pe_file(Font.dll 64 dll font.rc)
mv_pe_file(Driver.dll 32 dll driver.rc)
mv_pe_file(Strings.dll 64 dll strings.rc)
mv_pe_file(NoResources.exe 32 exe)
add_custom_target(tools_pe_files DEPENDS ${MV_PE_FILES})
