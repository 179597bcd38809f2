# Makes an import library from a small definition file, so that a program can
# import only the entries named there: with llvm-dlltool where the LLVM tools
# are used (stdcall names are written with their argument bytes and imported
# without them), with lib.exe under Microsoft's own tools.
function(tolvan_import_library def lib)
  if(TOLVAN_DLLTOOL)
    set(make_import ${TOLVAN_DLLTOOL} -m i386 -k -d ${def} -l ${lib})
  else()
    set(make_import ${CMAKE_AR} /nologo /machine:x86 /def:${def} /out:${lib})
  endif()
  add_custom_command(OUTPUT ${lib} COMMAND ${make_import} DEPENDS ${def} VERBATIM)
endfunction()
