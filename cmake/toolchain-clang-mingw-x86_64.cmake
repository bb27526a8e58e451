# Cross-builds the plug-in for Windows x64 with clang and lld against Debian's
# mingw-w64 runtime (headers, CRT, libstdc++ of the win32 thread model, so that
# no winpthreads is linked), as a second compiler beside gcc. windres and widl come from mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(ITEMPLUGIN_CLANG_TARGET x86_64-w64-windows-gnu)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${ITEMPLUGIN_CLANG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${ITEMPLUGIN_CLANG_TARGET})
set(CMAKE_RC_COMPILER  ${MINGW_PREFIX}-windres)
set(CMAKE_AR           llvm-ar)
set(CMAKE_RANLIB       llvm-ranlib)
set(ITEMPLUGIN_WIDL    ${MINGW_PREFIX}-widl)

# The sysroot lives in the top-level build folder; try_compile projects reuse it.
if(NOT ITEMPLUGIN_CLANG_SYSROOT)
  set(ITEMPLUGIN_CLANG_SYSROOT ${CMAKE_BINARY_DIR}/clang-sysroot)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ITEMPLUGIN_CLANG_SYSROOT)
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/clang-sysroot ${ITEMPLUGIN_CLANG_SYSROOT}
                RESULT_VARIABLE sysroot_result)
if(NOT sysroot_result EQUAL 0)
  message(FATAL_ERROR "could not make the clang sysroot ${ITEMPLUGIN_CLANG_SYSROOT}")
endif()
set(CMAKE_SYSROOT ${ITEMPLUGIN_CLANG_SYSROOT})

foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable the build produces runs under Wine, in the test run's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
