# Run by `cmake --install` before anything is installed.  Stops, with
# nothing written, where the build folder lacks something to install, or
# where the install would replace a file that a package owns.  Then notes
# which of the folders that the install fills do not exist yet (the prefix
# itself included), so that the uninstall target can remove them again
# once they are empty.  Expects ruvo_built (files of the build folder),
# ruvo_binary, ruvo_bindir, ruvo_install_dirs (folders relative to the
# prefix) and ruvo_install_record.
foreach(f IN LISTS ruvo_built)
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "ruvo: nothing was installed: the build in ${ruvo_binary} is not "
                        "complete (it has no ${f}); run `cmake --build ${ruvo_binary}` first")
  endif()
endforeach()
# A file that a package owns belongs to the package manager: replacing it
# would leave the package broken (`dpkg -V` reports it changed).
find_program(ruvo_dpkg_query dpkg-query)
if(ruvo_dpkg_query AND "$ENV{DESTDIR}" STREQUAL "" AND NOT "$ENV{RUVO_REPLACE_PACKAGE_FILES}")
  set(program "${CMAKE_INSTALL_PREFIX}/${ruvo_bindir}/ruvo")
  execute_process(COMMAND "${ruvo_dpkg_query}" -S "${program}" RESULT_VARIABLE owned
                  OUTPUT_VARIABLE package OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(owned EQUAL 0)
    string(REGEX REPLACE ":.*" "" package "${package}")
    message(FATAL_ERROR "ruvo: nothing was installed: ${program} belongs to the package "
                        "${package}; remove the package first, install to another prefix, or "
                        "set RUVO_REPLACE_PACKAGE_FILES=1 to replace its files anyway")
  endif()
endif()
set(ruvo_created_dirs "")
if("$ENV{DESTDIR}" STREQUAL "")
  # The prefix and those of its parents that do not exist yet.
  set(dir "${CMAKE_INSTALL_PREFIX}")
  while(NOT EXISTS "${dir}")
    list(APPEND ruvo_created_dirs "${dir}")
    get_filename_component(dir "${dir}" DIRECTORY)
  endwhile()
  foreach(dir IN LISTS ruvo_install_dirs)
    # The folder and each of its parents below the prefix.
    while(NOT dir STREQUAL "" AND NOT dir STREQUAL ".")
      if(NOT EXISTS "${CMAKE_INSTALL_PREFIX}/${dir}")
        list(APPEND ruvo_created_dirs "${CMAKE_INSTALL_PREFIX}/${dir}")
      endif()
      get_filename_component(dir "${dir}" DIRECTORY)
    endwhile()
  endforeach()
endif()
