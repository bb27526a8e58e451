# itemplugin_add_typelib(<target> <idl> <tlb-name>)
# Compiles a type library from IDL: widl under mingw-w64, midl under MSVC. The
# custom target <target> produces ${CMAKE_CURRENT_BINARY_DIR}/<tlb-name> and a
# header <idl-name>_h.h beside it.
function(itemplugin_add_typelib target idl tlb)
  get_filename_component(idl_abs ${idl} ABSOLUTE)
  get_filename_component(idl_name ${idl} NAME_WE)
  set(out_tlb ${CMAKE_CURRENT_BINARY_DIR}/${tlb})
  set(out_h ${CMAKE_CURRENT_BINARY_DIR}/${idl_name}_h.h)
  set(include_args -I${PROJECT_SOURCE_DIR})
  if(MSVC)
    add_custom_command(OUTPUT ${out_tlb} ${out_h}
      COMMAND midl /nologo /env x64 /I ${PROJECT_SOURCE_DIR} /tlb ${out_tlb} /h ${out_h} ${idl_abs}
      DEPENDS ${idl_abs} VERBATIM)
  else()
    # widl finds stdole2.tlb for importlib() in Wine's Windows library folder.
    set(stdole_dirs -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows -L/usr/lib/wine/x86_64-windows)
    add_custom_command(OUTPUT ${out_tlb} ${out_h}
      COMMAND ${ITEMPLUGIN_WIDL} -m64 --win64 ${include_args} -I/usr/share/mingw-w64/include
              -I/usr/x86_64-w64-mingw32/include ${stdole_dirs} -t -o ${out_tlb} ${idl_abs}
      COMMAND ${ITEMPLUGIN_WIDL} -m64 --win64 ${include_args} -I/usr/share/mingw-w64/include
              -I/usr/x86_64-w64-mingw32/include -h -o ${out_h} ${idl_abs}
      DEPENDS ${idl_abs} VERBATIM)
  endif()
  add_custom_target(${target} DEPENDS ${out_tlb} ${out_h})
endfunction()
