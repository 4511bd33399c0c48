# `make package`: a Debian package of a posix build, its files under the install prefix (/usr
# for the package), its dependencies found by dpkg-shlibdeps. `make package-win32`: a zip of
# the .exe files and the catalogs of a win32 build.
set(CPACK_PACKAGE_NAME kalvor-wardex)
set(CPACK_PACKAGE_VENDOR "Kalvor")
set(CPACK_PACKAGE_CONTACT
    "Seed 775e8b21 maintainers <maintainers@users.noreply.c-seed-775e8b21.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "supervisor of one user's Kalvor suite applications")
# Each line below is a line of the control file's extended description: CPack indents it by one
# space and folds nothing, and Debian wants the lines within 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Wardex starts the applications of the Kalvor suite that a user's configuration\n"
    "lists, checks them every half second, restarts those that stopped and gives up\n"
    "on one that keeps failing. It runs as a systemd user service; wardexctl shows\n"
    "and steers it, kalvor-reg sets its registry values and kalvor-ipc talks to the\n"
    "suite's mailslots.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
    # The MSI's main source; tools/package/make-msi adds the files of the install rules.
    configure_file(${PROJECT_SOURCE_DIR}/contrib/windows/wardex.wxs.in
                   ${PROJECT_BINARY_DIR}/wardex.wxs @ONLY)
else()
    set(CPACK_GENERATOR DEB)
    # Where the unit and the example configuration were configured to find the programs.
    set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION admin)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Only a postinst, which makes the tmpfiles.d folders and writes the machine's missing
    # registry values: removing the package must leave every user's registry store,
    # configuration and logs where they are.
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/contrib/debian/postinst)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
