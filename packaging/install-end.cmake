# Run by `cmake --install` after everything is installed: adds the files
# it installed and the folders it created to the install record, which
# the uninstall target reads.  A staged install (DESTDIR set, as cpack
# does it) installs nothing on this system and is not recorded.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()
set(lines "")
if(EXISTS "${ruvo_install_record}")
  file(STRINGS "${ruvo_install_record}" lines)
endif()
foreach(f IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  list(APPEND lines "file ${f}")
endforeach()
foreach(d IN LISTS ruvo_created_dirs)
  list(APPEND lines "dir ${d}")
endforeach()
list(REMOVE_DUPLICATES lines)
list(JOIN lines "\n" text)
file(WRITE "${ruvo_install_record}" "${text}\n")
