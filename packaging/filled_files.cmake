# Files the build writes from a template beside their sources: the manual
# pages, the shell completion, the AppStream data.
#
# quimbel_filled_file(NAME [FROM_OPTION_TABLE] [GZIP]) makes NAME in the
# current binary folder from NAME.in in the current source folder: first
# the facts of the build (configure_file's @VARIABLES@: the version, the
# release date, the QUIMBEL_FACT_ values read from platform/product.h),
# then, with FROM_OPTION_TABLE, the lists quimbel-cli-docs makes from the
# CLI's option table (its %MARKERS%), so a page never drifts from the
# options the program reads. GZIP also makes NAME.gz, as manual pages are
# installed.
set(QUIMBEL_FILL_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/fill_template.cmake)

function(quimbel_filled_file name)
  cmake_parse_arguments(F "FROM_OPTION_TABLE;GZIP" "" "" ${ARGN})
  set(template ${CMAKE_CURRENT_BINARY_DIR}/${name}.in)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name})
  configure_file(${name}.in ${template} @ONLY)
  set(command ${CMAKE_COMMAND} -DTEMPLATE=${template} -DOUTPUT=${output})
  set(depends ${template} ${QUIMBEL_FILL_SCRIPT})
  set(outputs ${output})
  if(F_FROM_OPTION_TABLE)
    list(APPEND command -DFILL=$<TARGET_FILE:quimbel-cli-docs>)
    list(APPEND depends quimbel-cli-docs)
  endif()
  if(F_GZIP)
    list(APPEND command -DGZIP=ON)
    list(APPEND outputs ${output}.gz)
  endif()
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${command} -P ${QUIMBEL_FILL_SCRIPT}
    DEPENDS ${depends}
    COMMENT "Writing ${name}" VERBATIM)
  string(MAKE_C_IDENTIFIER "filled_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
