# Run by CPack on the staged files, after its own strip: the programs also
# lose the .comment and .note sections (the compiler's version string), as a
# Debian package's do.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
foreach(program IN LISTS programs)
  file(READ "${program}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")  # ELF
    execute_process(COMMAND "${CPACK_KAROLX_STRIP}" --remove-section=.comment
                            --remove-section=.note "${program}"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
