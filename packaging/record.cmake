# Included by the top CMakeLists.txt before any install rule: what
# `cmake --install` writes is recorded (packaging/install-begin.cmake, then
# packaging/install-end.cmake last of all), so that the uninstall target
# removes exactly that.
# What `cmake --install` puts where is recorded in install_record.txt, so
# that `cmake --build <folder> --target uninstall` removes exactly that,
# and the folders the install created.  The folders every install fills
# (the shells' folders depend on the prefix: packaging/install-shells.cmake):
set(ruvo_install_dirs ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1
                      ${CMAKE_INSTALL_DATADIR}/ruvo/palettes ${CMAKE_INSTALL_DOCDIR})
set(ruvo_install_record ${PROJECT_BINARY_DIR}/install_record.txt)
# What the install takes from this build folder: an install from a build
# that lacks any of it (the first command of the README builds the program
# alone) stops before it writes anything.
set(ruvo_built $<TARGET_FILE:ruvo> ${PROJECT_BINARY_DIR}/ruvo.1.gz
               ${PROJECT_BINARY_DIR}/ruvo-preview.1.gz ${PROJECT_BINARY_DIR}/changelog.gz
               ${PROJECT_BINARY_DIR}/copyright)
install(CODE "set(ruvo_install_dirs \"${ruvo_install_dirs}\")
              set(ruvo_install_record \"${ruvo_install_record}\")
              set(ruvo_built \"${ruvo_built}\")
              set(ruvo_binary \"${PROJECT_BINARY_DIR}\")
              set(ruvo_source \"${PROJECT_SOURCE_DIR}\")
              set(ruvo_datadir \"${CMAKE_INSTALL_DATADIR}\")
              set(ruvo_bindir \"${CMAKE_INSTALL_BINDIR}\")")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install-begin.cmake)
