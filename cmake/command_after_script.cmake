# For scripts run as `cmake -D... -P <script> <command> [<arguments>...]`: the command after the
# script's path, as a list in zul_command.
set(zul_command)
set(zul_after_script -1)
math(EXPR zul_last "${CMAKE_ARGC} - 1")
foreach(zul_i RANGE ${zul_last})
  if(zul_after_script GREATER_EQUAL 0 AND zul_i GREATER zul_after_script)
    list(APPEND zul_command "${CMAKE_ARGV${zul_i}}")
  elseif(zul_after_script LESS 0 AND CMAKE_ARGV${zul_i} STREQUAL "-P")
    math(EXPR zul_after_script "${zul_i} + 1")
  endif()
endforeach()
