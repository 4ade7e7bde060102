# cmake -DRECORD=<build>/install_record.txt -P uninstall.cmake
#
# Removes what `cmake --install` put on this system from this build folder:
# the files it installed, then the folders it created, where they are
# empty.  Nothing else is touched: not files a package manager owns, not
# folders that held something before, not anything a package build staged.
if(NOT EXISTS "${RECORD}")
  message(STATUS "Nothing to uninstall: this build folder has installed nothing")
  return()
endif()
file(STRINGS "${RECORD}" lines)
find_program(DPKG_QUERY dpkg-query)
set(dirs "")
foreach(line IN LISTS lines)
  if(line MATCHES "^file (.+)$")
    set(f "${CMAKE_MATCH_1}")
    if(NOT EXISTS "${f}" AND NOT IS_SYMLINK "${f}")
      continue()
    endif()
    # Installed over a package's file: the package owns it now.
    if(DPKG_QUERY)
      execute_process(COMMAND "${DPKG_QUERY}" -S "${f}" RESULT_VARIABLE owned
                      OUTPUT_QUIET ERROR_QUIET)
      if(owned EQUAL 0)
        message(STATUS "Kept (a package owns it): ${f}")
        continue()
      endif()
    endif()
    message(STATUS "Removing: ${f}")
    file(REMOVE "${f}")
  elseif(line MATCHES "^dir (.+)$")
    list(APPEND dirs "${CMAKE_MATCH_1}")
  endif()
endforeach()
# Deepest first, so that a folder is empty once its own have gone.
list(SORT dirs)
list(REVERSE dirs)
foreach(d IN LISTS dirs)
  if(IS_DIRECTORY "${d}")
    file(GLOB left "${d}/*" "${d}/.*")
    if(left STREQUAL "")
      message(STATUS "Removing: ${d}/")
      file(REMOVE_RECURSE "${d}") # empty: as rmdir(1)
    endif()
  endif()
endforeach()
file(REMOVE "${RECORD}")
