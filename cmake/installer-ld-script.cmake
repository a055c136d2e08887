# The installer's linker script: the linker's default one (what `ld --verbose`
# prints between its two rules of '=' signs), with the .reloc section's
# statement moved before the .rsrc section's, so that the resources stay the
# last section of the file while the image keeps its relocations. Windows
# reads both through the data directories and does not care about their order.
function(WriteInstallerLinkerScript verbose output)
  string(REGEX MATCH "\n=+\n(.*)\n=+\n" found "${verbose}")
  if(NOT found)
    message(FATAL_ERROR "the linker printed no default script with --verbose")
  endif()
  set(script "${CMAKE_MATCH_1}")
  set(rsrc_pattern "  \\.rsrc [^\n]*\n  {[^}]*}\n")
  set(reloc_pattern "  \\.reloc [^\n]*\n  {[^}]*}\n")
  string(REGEX MATCH "${rsrc_pattern}" rsrc "${script}")
  string(REGEX MATCH "${reloc_pattern}" reloc "${script}")
  if(NOT rsrc OR NOT reloc)
    message(FATAL_ERROR "the linker's default script has no .rsrc or no .reloc statement")
  endif()
  string(REPLACE "${reloc}" "" script "${script}")
  string(REPLACE "${rsrc}" "${reloc}${rsrc}" script "${script}")
  file(CONFIGURE OUTPUT ${output} CONTENT "${script}\n" @ONLY)
endfunction()
