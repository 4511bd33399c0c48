# Fails unless PROGRAM's PE header, as OBJDUMP prints it, names the Windows GUI subsystem (2).
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE header RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
string(REGEX MATCH "Subsystem[ \t]+0*([0-9a-fA-F]+)" line "${header}")
if(NOT CMAKE_MATCH_1 STREQUAL "2")
    message(FATAL_ERROR "${PROGRAM}: subsystem '${CMAKE_MATCH_1}', not 2 (Windows GUI)")
endif()
