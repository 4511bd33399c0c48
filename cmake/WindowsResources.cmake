# A version resource and an application manifest for each installed win32 program, built from
# the two templates beside this file. Included once from the top directory: CMake enables a
# language only at file scope, in the directory above every target that compiles it.
#
# kalvor_add_windows_resources(TARGET DESCRIPTION "text for the file's properties")
# Does nothing on posix, where a program has no place for them.

if(WIN32)
    enable_language(RC)
endif()

set(KALVOR_WINDOWS_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR})

function(kalvor_add_windows_resources target)
    if(NOT WIN32)
        return()
    endif()
    cmake_parse_arguments(ARG "" "DESCRIPTION" "" ${ARGN})
    if(NOT ARG_DESCRIPTION)
        message(FATAL_ERROR "kalvor_add_windows_resources(${target}): DESCRIPTION is missing")
    endif()

    # The values the two templates take.
    set(KALVOR_RC_PROGRAM ${target})
    set(KALVOR_RC_FILE_NAME ${target}${CMAKE_EXECUTABLE_SUFFIX})
    set(KALVOR_RC_DESCRIPTION "${ARG_DESCRIPTION}")
    set(KALVOR_RC_VERSION ${PROJECT_VERSION})
    set(KALVOR_RC_VERSION_NUMBERS
        "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    set(KALVOR_RC_ASSEMBLY_VERSION
        "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(KALVOR_RC_MANIFEST ${folder}/${KALVOR_RC_FILE_NAME}.manifest)
    configure_file(${KALVOR_WINDOWS_RESOURCES_DIR}/WindowsResources.manifest.in
                   ${KALVOR_RC_MANIFEST} @ONLY)
    configure_file(${KALVOR_WINDOWS_RESOURCES_DIR}/WindowsResources.rc.in
                   ${folder}/${target}.rc @ONLY)

    # A library of its own for the one .rc file: the directories' compiler warnings options
    # reach every source of a target, and windres refuses them.
    add_library(${target}-resources OBJECT ${folder}/${target}.rc)
    set_property(TARGET ${target}-resources PROPERTY COMPILE_OPTIONS "")
    # windres sees the manifest only through its file name: a new manifest recompiles the .rc.
    set_property(SOURCE ${folder}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${KALVOR_RC_MANIFEST})
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}-resources>)
endfunction()
