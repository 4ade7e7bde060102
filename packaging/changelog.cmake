# The project's version, and the Debian changelog made from CHANGELOG.md.
#
# ruvo_read_version(VAR): the version of the newest entry.
# ruvo_write_debian_changelog(OUT MAINTAINER): every entry, in the format
# dpkg and lintian read, with the date of each at noon UTC.

set(ruvo_changelog "${CMAKE_CURRENT_LIST_DIR}/../CHANGELOG.md")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ruvo_changelog}")
set(ruvo_entry_heading "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")

function(ruvo_read_version var)
  file(STRINGS "${ruvo_changelog}" headings REGEX "^## ")
  list(GET headings 0 newest)
  if(NOT newest MATCHES "${ruvo_entry_heading}")
    message(FATAL_ERROR "CHANGELOG.md: the first entry's heading must read '## X.Y.Z (YYYY-MM-DD)'")
  endif()
  set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# "Thu, 10 Dec 2026 12:00:00 +0000" for a date, as RFC 2822 has it.
function(ruvo_rfc2822_date var year month day)
  math(EXPR m "${month}")
  math(EXPR d "${day}")
  # Sakamoto's rule for the day of the week, 0 for Sunday.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR i "${m} - 1")
  list(GET offsets ${i} t)
  set(y ${year})
  if(m LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR w "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${t} + ${d}) % 7")
  set(days Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET days ${w} wd)
  list(GET months ${i} mon)
  set(${var} "${wd}, ${d} ${mon} ${year} 12:00:00 +0000" PARENT_SCOPE)
endfunction()

function(ruvo_write_debian_changelog out maintainer)
  file(STRINGS "${ruvo_changelog}" lines)
  set(text "")
  set(entry "")
  set(footer "")
  foreach(line IN LISTS lines)
    if(line MATCHES "${ruvo_entry_heading}")
      string(APPEND text "${entry}${footer}")
      ruvo_rfc2822_date(date ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
      set(entry "ruvo (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
      set(footer "\n -- ${maintainer}  ${date}\n\n")
    elseif(entry STREQUAL "")
      continue() # the file's own heading and introduction
    elseif(line MATCHES "^- (.*)$")
      string(APPEND entry "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  (.+)$")
      string(APPEND entry "    ${CMAKE_MATCH_1}\n")
    elseif(NOT line STREQUAL "")
      message(FATAL_ERROR "CHANGELOG.md: not an item of an entry: ${line}")
    endif()
  endforeach()
  string(APPEND text "${entry}${footer}")
  string(REGEX REPLACE "\n\n$" "\n" text "${text}")
  file(WRITE "${out}" "${text}")
endfunction()
