# A manual page for each installed program, made by help2man from the program's own --help, so
# that the page says what the program says. Included on posix only, after the programs' targets.
#   KALVOR_MAN_PAGES=AUTO  made where help2man is installed, skipped with a message elsewhere;
#                          not in a sanitizer build, which is there for the tests
#   KALVOR_MAN_PAGES=ON    help2man is required (`make package`: the package must have them)
#   KALVOR_MAN_PAGES=OFF   never made
set(KALVOR_MAN_PAGES AUTO CACHE STRING "Manual pages from the programs' --help (AUTO, ON, OFF)")
set_property(CACHE KALVOR_MAN_PAGES PROPERTY STRINGS AUTO ON OFF)
if(NOT KALVOR_MAN_PAGES MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR "KALVOR_MAN_PAGES is '${KALVOR_MAN_PAGES}': AUTO, ON or OFF")
endif()
if(KALVOR_MAN_PAGES STREQUAL OFF OR (KALVOR_MAN_PAGES STREQUAL AUTO AND KALVOR_SANITIZE))
    return()
endif()

find_program(KALVOR_GZIP gzip REQUIRED)
find_program(KALVOR_HELP2MAN help2man)
if(NOT KALVOR_HELP2MAN)
    if(KALVOR_MAN_PAGES STREQUAL ON)
        message(FATAL_ERROR "KALVOR_MAN_PAGES is ON, but help2man is not installed: "
                            "apt-get install help2man")
    endif()
    message(STATUS "Manual pages skipped: help2man is not installed (apt-get install help2man)")
    return()
endif()

set(KALVOR_MAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
set(KALVOR_MAN_INCLUDES ${PROJECT_SOURCE_DIR}/contrib/debian/man)
set(KALVOR_MAN_PAGE_FILES)
foreach(program IN ITEMS wardex wardexctl kalvor-reg kalvor-ipc)
    set(page ${KALVOR_MAN_DIR}/${program}.1)
    # --version-string: the programs have no --version. gzip -n: no name or time in the header,
    # so that the same page compresses to the same bytes.
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${KALVOR_HELP2MAN} --no-info --version-string=${PROJECT_VERSION}
                --include=${KALVOR_MAN_INCLUDES}/${program}.h2m --output=${page} $<TARGET_FILE:${program}>
        COMMAND ${KALVOR_GZIP} -9nf ${page}
        DEPENDS ${program} ${KALVOR_MAN_INCLUDES}/${program}.h2m
        COMMENT "Manual page ${program}(1)"
        VERBATIM)
    list(APPEND KALVOR_MAN_PAGE_FILES ${page}.gz)
endforeach()

add_custom_target(man-pages ALL DEPENDS ${KALVOR_MAN_PAGE_FILES})
install(FILES ${KALVOR_MAN_PAGE_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
