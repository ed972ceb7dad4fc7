# Papers installed with the programs: compressed man pages, the licence in
# Debian's machine-readable form, the changelog made from NEWS.md, the README
# (the window's status line points to its troubleshooting section) and bash
# completion.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(docs_out ${PROJECT_BINARY_DIR}/docs)
set(docs_outputs)

# gzip -9n: no name or time stamp inside, so the package is reproducible.
function(nasscout_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${docs_out}
    COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${GZIP_PROGRAM} ${source} ${output}
    DEPENDS ${source} VERBATIM)
  set(docs_outputs ${docs_outputs} ${output} PARENT_SCOPE)
endfunction()

foreach(page nasscout nasscout-cli nasscout-sim)
  nasscout_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${docs_out}/${page}.1.gz)
  install(FILES ${docs_out}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

add_custom_command(OUTPUT ${docs_out}/changelog
  COMMAND ${CMAKE_COMMAND} -DNEWS=${PROJECT_SOURCE_DIR}/NEWS.md -DOUT=${docs_out}/changelog
          -DPACKAGE=${PROJECT_NAME} -DMAINTAINER=${CPACK_PACKAGE_CONTACT}
          -P ${PROJECT_SOURCE_DIR}/packaging/DebianChangelog.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/NEWS.md ${PROJECT_SOURCE_DIR}/packaging/DebianChangelog.cmake VERBATIM)
nasscout_gzip(${docs_out}/changelog ${docs_out}/changelog.gz)
add_custom_target(nasscout-docs ALL DEPENDS ${docs_outputs})

install(FILES ${docs_out}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(NASSCOUT_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/completions/nasscout-cli
                ${PROJECT_SOURCE_DIR}/resources/completions/nasscout-sim
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()
