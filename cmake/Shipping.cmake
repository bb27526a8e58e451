# The version of the build and what every binary the package ships carries:
# a version resource, an application manifest (executables) and, with clang and
# lld, CodeView debug information in a PDB beside it.

# scripts/package VERSION sets ITEMPLUGIN_PACKAGE_VERSION; the DLL, the tools and
# the package all carry it.
set(ITEMPLUGIN_PACKAGE_VERSION "" CACHE STRING
  "Version of this build (DLL, tools, installer package), major.minor[.build] (empty: the project version)")
if(ITEMPLUGIN_PACKAGE_VERSION)
  set(ITEMPLUGIN_VERSION ${ITEMPLUGIN_PACKAGE_VERSION})
else()
  set(ITEMPLUGIN_VERSION ${PROJECT_VERSION})
endif()
if(NOT ITEMPLUGIN_VERSION MATCHES "^([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$")
  message(FATAL_ERROR "version '${ITEMPLUGIN_VERSION}' is not major.minor[.build]")
endif()
set(ITEMPLUGIN_VERSION_MAJOR ${CMAKE_MATCH_1})
set(ITEMPLUGIN_VERSION_MINOR ${CMAKE_MATCH_2})
set(ITEMPLUGIN_VERSION_BUILD 0)
if(CMAKE_MATCH_4)
  set(ITEMPLUGIN_VERSION_BUILD ${CMAKE_MATCH_4})
endif()
# Windows Installer's limits for a ProductVersion, which the file versions share.
if(ITEMPLUGIN_VERSION_MAJOR GREATER 255 OR ITEMPLUGIN_VERSION_MINOR GREATER 255 OR ITEMPLUGIN_VERSION_BUILD GREATER 65535)
  message(FATAL_ERROR "version '${ITEMPLUGIN_VERSION}' exceeds 255.255.65535")
endif()
set(ITEMPLUGIN_FILE_VERSION ${ITEMPLUGIN_VERSION_MAJOR}.${ITEMPLUGIN_VERSION_MINOR}.${ITEMPLUGIN_VERSION_BUILD}.0)
set(ITEMPLUGIN_COMPANY Kestrelmar)
string(TIMESTAMP ITEMPLUGIN_COPYRIGHT_YEAR "%Y" UTC)

set(ITEMPLUGIN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ProductVersion.h.in ${ITEMPLUGIN_GENERATED_DIR}/common/ProductVersion.h @ONLY)

# CodeView and PDBs (clang + lld, the configuration the package ships): the
# binary names its PDB by file name only, and the paths of sources and generated
# files are mapped to a neutral prefix, so neither the PDB nor the binary carries
# the build machine's folders.
set(ITEMPLUGIN_PDB OFF)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT MSVC)
  option(ITEMPLUGIN_CODEVIEW "CodeView debug information and PDBs for the shipped binaries (clang + lld)" ON)
  set(ITEMPLUGIN_PDB ${ITEMPLUGIN_CODEVIEW})
endif()
if(ITEMPLUGIN_PDB)
  # The longer prefix (the build folder inside the source folder) wins.
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-g;-gcodeview>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=/ItemPlugin/build>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=/ItemPlugin/src>")
endif()

# itemplugin_shipped_binary(<target> DESCRIPTION <text> [EXTRA_VALUES <rc lines>])
# The version resource (and for an executable the manifest) of a binary the
# package ships, and its PDB where the toolchain makes one.
function(itemplugin_shipped_binary target)
  cmake_parse_arguments(VI "" "DESCRIPTION;EXTRA_VALUES" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(VI_NAME ${target} OUTPUT_NAME)
  if(NOT VI_NAME)
    set(VI_NAME ${target})
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}.version)
  set(VI_MANIFEST "")
  if(type STREQUAL "EXECUTABLE")
    set(VI_FILE ${VI_NAME}.exe)
    set(VI_FILETYPE VFT_APP)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/Tool.manifest.in ${dir}/${VI_NAME}.exe.manifest @ONLY)
    # 1, RT_MANIFEST (24): the manifest of the process.
    set(VI_MANIFEST "1 24 \"${dir}/${VI_NAME}.exe.manifest\"")
  else()
    set(VI_FILE ${VI_NAME}.dll)
    set(VI_FILETYPE VFT_DLL)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${dir}/VersionInfo.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/VersionInfo.rc)
  if(VI_MANIFEST)
    set_source_files_properties(${dir}/VersionInfo.rc PROPERTIES OBJECT_DEPENDS ${dir}/${VI_NAME}.exe.manifest)
  endif()
  if(ITEMPLUGIN_PDB)
    # An empty --pdb= puts <name>.pdb beside the binary; %_PDB% is its file name.
    target_link_options(${target} PRIVATE "-Wl,--pdb=" "-Wl,--Xlink=-pdbaltpath:%_PDB%")
  endif()
  set_property(GLOBAL APPEND PROPERTY ITEMPLUGIN_SHIPPED_TARGETS ${target})
endfunction()
