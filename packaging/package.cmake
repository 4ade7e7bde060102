# Included by the top CMakeLists.txt after the install rules of the
# program: the Debian copyright file and changelog, the end of the install
# record, the uninstall target, and the package (cpack -G DEB).
# The licence, as the machine-readable copyright file Debian asks for.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE RUVO_LICENSE_BODY)
string(REGEX REPLACE "^.*All rights reserved\\.\n\n" "" RUVO_LICENSE_BODY "${RUVO_LICENSE_BODY}")
string(REGEX REPLACE "\n+$" "" RUVO_LICENSE_BODY "${RUVO_LICENSE_BODY}")
string(REPLACE "\n\n" "\n.\n" RUVO_LICENSE_BODY "${RUVO_LICENSE_BODY}")
string(REPLACE "\n" "\n " RUVO_LICENSE_BODY " ${RUVO_LICENSE_BODY}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in copyright @ONLY)
set(CPACK_PACKAGE_CONTACT "ruvo developers <ruvo@users.noreply.invalid>")
ruvo_write_debian_changelog(${PROJECT_BINARY_DIR}/changelog "${CPACK_PACKAGE_CONTACT}")
add_custom_command(OUTPUT changelog.gz
                   COMMAND ${GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/changelog > changelog.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(changelog_gz ALL DEPENDS changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Last of all the install rules: the record of this install.
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install-end.cmake)
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -DRECORD=${ruvo_install_record}
                                    -P ${PROJECT_SOURCE_DIR}/packaging/uninstall.cmake VERBATIM)

# cpack -G DEB makes ruvo_<version>_<architecture>.deb.
set(CPACK_PACKAGE_NAME ruvo)
set(CPACK_PACKAGE_VENDOR "the ruvo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ruvo draws the bytes of any file as coloured pixels in a terminal that
understands 24-bit colour: each byte value has its own colour, each
character cell shows two bytes as an upper half block, and every line
begins with the offset of its first byte.  Headers, text, tables, zero
padding and compressed data each have their own texture.")
configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack-project.cmake.in cpack-project.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-project.cmake)
include(CPack)
