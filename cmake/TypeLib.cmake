# itemplugin_idl(<target> <idl> [TLB <file>] [DEFINES <d>...])
# Compiles an IDL file: widl under mingw-w64, midl under MSVC. The custom target
# <target> produces, in ${CMAKE_CURRENT_BINARY_DIR}, the header <name>.h and the
# interface-ID source <name>_i.c, and the type library <file> when TLB is given.
# The folder is added to <target>_INCLUDE_DIR in the caller's scope.
function(itemplugin_idl target idl)
  cmake_parse_arguments(ARG "" "TLB;NAME" "DEFINES" ${ARGN})
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  get_filename_component(idl_name ${idl} NAME_WE)
  if(ARG_NAME)
    set(idl_name ${ARG_NAME})
  endif()
  set(out_dir ${CMAKE_CURRENT_BINARY_DIR})
  set(out_h ${out_dir}/${idl_name}.h)
  set(out_iid ${out_dir}/${idl_name}_i.c)
  set(outputs ${out_h} ${out_iid})
  set(defines)
  foreach(d ${ARG_DEFINES})
    list(APPEND defines -D${d})
  endforeach()
  if(MSVC)
    set(tlb_args /notlb)
    if(ARG_TLB)
      set(tlb_args /tlb ${out_dir}/${ARG_TLB})
      list(APPEND outputs ${out_dir}/${ARG_TLB})
    endif()
    add_custom_command(OUTPUT ${outputs}
      COMMAND midl /nologo /env x64 ${defines} /I ${PROJECT_SOURCE_DIR} ${tlb_args}
              /h ${out_h} /iid ${out_iid} /proxy nul /dlldata nul ${idl_abs}
      DEPENDS ${idl_abs} VERBATIM)
  else()
    # The platform's IDL files (oaidl.idl, ocidl.idl, ...) come with Wine's
    # development package; mingw-w64 ships only the generated headers.
    set(widl ${ITEMPLUGIN_WIDL} -m64 --win64 -I${PROJECT_SOURCE_DIR} -I/usr/include/wine/wine/windows
             -I/usr/include/wine/windows ${defines})
    set(commands COMMAND ${widl} -h -o ${out_h} ${idl_abs} COMMAND ${widl} -u -o ${out_iid} ${idl_abs})
    if(ARG_TLB)
      # widl finds stdole2.tlb for importlib() in Wine's Windows library folder.
      list(APPEND commands COMMAND ${widl} -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
                                   -L/usr/lib/wine/x86_64-windows -t -o ${out_dir}/${ARG_TLB} ${idl_abs})
      list(APPEND outputs ${out_dir}/${ARG_TLB})
    endif()
    add_custom_command(OUTPUT ${outputs} ${commands} DEPENDS ${idl_abs} VERBATIM)
  endif()
  add_custom_target(${target} DEPENDS ${outputs})
endfunction()
