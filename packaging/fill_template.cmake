# Run by quimbel_filled_file (filled_files.cmake):
#   cmake -DTEMPLATE=IN -DOUTPUT=OUT [-DFILL=quimbel-cli-docs] [-DGZIP=ON] -P fill_template.cmake
# Each file is written beside its final name and renamed into place, so a
# failed step never leaves a half file that looks up to date.
if(FILL)
  execute_process(COMMAND ${FILL} ${TEMPLATE} OUTPUT_FILE ${OUTPUT}.part RESULT_VARIABLE failed)
  if(failed)
    file(REMOVE ${OUTPUT}.part)
    message(FATAL_ERROR "${FILL} could not fill ${TEMPLATE}")
  endif()
else()
  file(COPY_FILE ${TEMPLATE} ${OUTPUT}.part)
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
if(GZIP)
  # -n: no name or time stamp inside, so the same page packs the same bytes.
  execute_process(COMMAND gzip -9 -n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz.part
                  RESULT_VARIABLE failed)
  if(failed)
    file(REMOVE ${OUTPUT}.gz.part)
    message(FATAL_ERROR "gzip could not compress ${OUTPUT}")
  endif()
  file(RENAME ${OUTPUT}.gz.part ${OUTPUT}.gz)
endif()
