# cmake -DREADOBJ=llvm-readobj -DBINARIES="a.dll;b.exe" -DOUTPUT=symbols.zip -P SymbolStore.cmake
#
# Puts the PDB of each binary into a zip archive in symbol-store layout,
# <name>.pdb/<GUID><age>/<name>.pdb, the folder a debugger's symbol path (or a
# symbol server's store) looks in for the GUID and age of the binary's debug
# directory. A binary without a CodeView record, or whose record names a path
# rather than a file name, stops the build.
foreach(var READOBJ BINARIES OUTPUT)
  if("${${var}}" STREQUAL "")
    message(FATAL_ERROR "SymbolStore.cmake: ${var} is not set")
  endif()
endforeach()
set(store "${OUTPUT}.store")
file(REMOVE_RECURSE "${store}")
file(REMOVE "${OUTPUT}")
set(entries "")
foreach(binary IN LISTS BINARIES)
  execute_process(COMMAND ${READOBJ} --coff-debug-directory "${binary}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${READOBJ} ${binary} failed:\n${err}")
  endif()
  # llvm-readobj shows the GUID as its 16 bytes in file order; the store names
  # it as text: Data1, Data2 and Data3 are little-endian, Data4 as it is.
  if(NOT out MATCHES "PDBGUID: \\(([0-9A-Fa-f ]+)\\)")
    message(FATAL_ERROR "${binary} has no CodeView debug record")
  endif()
  string(REPLACE " " ";" b "${CMAKE_MATCH_1}")
  list(LENGTH b count)
  if(NOT count EQUAL 16)
    message(FATAL_ERROR "${binary}: unexpected GUID '${CMAKE_MATCH_1}'")
  endif()
  set(guid "")
  foreach(i 3 2 1 0 5 4 7 6 8 9 10 11 12 13 14 15)
    list(GET b ${i} byte)
    string(APPEND guid "${byte}")
  endforeach()
  string(TOUPPER "${guid}" guid)
  string(REGEX MATCH "PDBAge: ([0-9]+)" _ "${out}")
  set(age "${CMAKE_MATCH_1}")
  string(REGEX MATCH "PDBFileName: ([^\n]*)" _ "${out}")
  set(pdb_name "${CMAKE_MATCH_1}")
  string(LENGTH "${guid}" len)
  if(NOT len EQUAL 32 OR age STREQUAL "" OR pdb_name STREQUAL "" OR pdb_name MATCHES "[/\\\\:]")
    message(FATAL_ERROR "${binary}: unexpected CodeView record (GUID '${guid}', age '${age}', PDB '${pdb_name}')")
  endif()
  get_filename_component(dir "${binary}" DIRECTORY)
  if(NOT EXISTS "${dir}/${pdb_name}")
    message(FATAL_ERROR "${binary}: ${dir}/${pdb_name} is missing")
  endif()
  # The age as the store writes it: hexadecimal, without leading zeros.
  math(EXPR age_hex "${age}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" age_hex "${age_hex}")
  string(TOUPPER "${age_hex}" age_hex)
  file(COPY "${dir}/${pdb_name}" DESTINATION "${store}/${pdb_name}/${guid}${age_hex}")
  list(APPEND entries "${pdb_name}")
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${OUTPUT}.partial" --format=zip ${entries}
  WORKING_DIRECTORY "${store}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot write ${OUTPUT}")
endif()
file(RENAME "${OUTPUT}.partial" "${OUTPUT}")
file(REMOVE_RECURSE "${store}")
