# Both programs print "<name> <project version>" for --version; run with the
# display variables unset, since the window program must answer without one.
foreach(program ${GUI} ${CLI})
  get_filename_component(name ${program} NAME)
  execute_process(COMMAND ${program} --version OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "${name} ${VERSION}\n")
    message(FATAL_ERROR "${name} --version: status ${status}, output '${out}', errors '${err}'")
  endif()
endforeach()
