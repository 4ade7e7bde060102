# Run by `cmake --install` before anything is installed: notes which of the
# folders that the install fills do not exist yet, so that the uninstall
# target can remove them again once they are empty.  Expects
# ruvo_install_dirs (folders relative to the prefix) and ruvo_install_record.
set(ruvo_created_dirs "")
if("$ENV{DESTDIR}" STREQUAL "")
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
