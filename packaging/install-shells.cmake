# Run by `cmake --install`: installs the shell integration where each
# shell, started as a user's shell starts (no settings of the user's),
# looks for it, for the prefix given at install time.  Expects ruvo_source
# (the source folder), ruvo_binary (the build folder) and ruvo_datadir
# (the data folder, relative to the prefix); adds the folders it creates
# to ruvo_created_dirs for the install record.
#
#   prefix          bash               zsh                          fish
#   /usr (package)  share/bash-...     share/zsh/vendor-completions share/fish/vendor_*.d
#   /usr/local      share/bash-...     share/zsh/site-functions     fish's own vendor folders,
#                                                                  else share/fish/vendor_*.d
#   anything else   share/bash-...     share/zsh/site-functions     share/fish/vendor_*.d
#
# bash-completion looks under every folder of XDG_DATA_DIRS, by default
# /usr/local/share and /usr/share, and under ~/.local/share.  Debian's zsh
# looks in /usr/share/zsh/vendor-completions and
# /usr/local/share/zsh/site-functions; for ~/.local zsh has no folder of
# its own, and the README gives the line to add.  fish, with XDG_DATA_DIRS
# unset, looks only in its own vendor folders (pkg-config's completionsdir
# and functionsdir, or what fish itself says) and ~/.local/share/fish, so
# for the default prefix, the one install that is meant for the whole
# system, the fish files go to fish's own folders, outside the prefix on
# Debian (/usr/share/fish), inside it on FreeBSD (/usr/local/share/fish),
# and are recorded like the rest for the uninstall.  Where the system
# says nothing (no pkg-config, no fish), they stay inside the prefix.  Any other prefix (/opt/ruvo, a scratch root) keeps
# them inside, where a fish started with that prefix in XDG_DATA_DIRS
# finds them.
# Where the fish of this system looks for vendors' completions and
# functions, as the system says: pkg-config's fish.pc, else fish itself
# (its search paths, as a user with no files of their own has them).
# Where neither says, the folders stay inside the prefix: outside it,
# only a folder that an installed fish owns is ever written.
function(ruvo_fish_folders completions_var functions_var)
  find_program(ruvo_pkg_config pkg-config NO_CACHE)
  if(ruvo_pkg_config)
    foreach(kind completions functions)
      execute_process(COMMAND ${ruvo_pkg_config} --variable ${kind}dir fish
                      OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE
                      RESULT_VARIABLE found ERROR_QUIET)
      if(found EQUAL 0 AND IS_ABSOLUTE "${dir}")
        set(${kind} "${dir}")
      endif()
    endforeach()
  endif()
  find_program(ruvo_fish fish NO_CACHE)
  if(ruvo_fish AND NOT (completions AND functions))
    set(home "${ruvo_binary}/fish-home")
    file(MAKE_DIRECTORY "${home}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_DATA_DIRS --unset=XDG_CONFIG_HOME
                            --unset=XDG_DATA_HOME "HOME=${home}" ${ruvo_fish} -c
                            "string join \\n -- $fish_complete_path $fish_function_path"
                    OUTPUT_VARIABLE paths RESULT_VARIABLE ran ERROR_QUIET TIMEOUT 20)
    file(REMOVE_RECURSE "${home}")
    if(ran EQUAL 0)
      string(REPLACE "\n" ";" paths "${paths}")
      foreach(dir IN LISTS paths)
        if(IS_ABSOLUTE "${dir}" AND NOT dir MATCHES "^${home}")
          if(NOT completions AND dir MATCHES "/vendor_completions\\.d$")
            set(completions "${dir}")
          elseif(NOT functions AND dir MATCHES "/vendor_functions\\.d$")
            set(functions "${dir}")
          endif()
        endif()
      endforeach()
    endif()
  endif()
  if(completions AND functions)
    set(${completions_var} "${completions}" PARENT_SCOPE)
    set(${functions_var} "${functions}" PARENT_SCOPE)
  endif()
endfunction()

set(prefix "${CMAKE_INSTALL_PREFIX}")
set(share "${prefix}/${ruvo_datadir}")
set(zsh_dir "${share}/zsh/site-functions")
if(prefix STREQUAL "/usr")
  set(zsh_dir "${share}/zsh/vendor-completions")
endif()
set(fish_completions "${share}/fish/vendor_completions.d")
set(fish_functions "${share}/fish/vendor_functions.d")
set(fish_outside FALSE)
if(prefix STREQUAL "/usr/local")
  ruvo_fish_folders(fish_completions fish_functions)
  foreach(dir "${fish_completions}" "${fish_functions}")
    string(FIND "${dir}/" "${prefix}/" at)
    if(NOT at EQUAL 0)
      set(fish_outside TRUE)
    endif()
  endforeach()
endif()

# The folders this install creates, up to the prefix (or, outside it, up
# to the first that exists), so that the uninstall can remove them again.
function(ruvo_note_created dir)
  if(NOT "$ENV{DESTDIR}" STREQUAL "")
    return()
  endif()
  set(created ${ruvo_created_dirs})
  while(NOT EXISTS "${dir}")
    list(APPEND created "${dir}")
    get_filename_component(dir "${dir}" DIRECTORY)
  endwhile()
  set(ruvo_created_dirs ${created} PARENT_SCOPE)
endfunction()
foreach(dir "${share}/bash-completion/completions" "${zsh_dir}" "${fish_completions}"
        "${fish_functions}" "${share}/ruvo")
  ruvo_note_created("${dir}")
endforeach()

# The fish files find the sh switcher beside them (../../ruvo); from fish's
# own folders they are told where it is.
set(fish_from "${ruvo_source}/shell")
if(fish_outside)
  set(fish_from "${ruvo_binary}/fish-outside-prefix")
  file(MAKE_DIRECTORY "${fish_from}")
  foreach(f ruvo_palette.fish ruvo_palette-completion.fish)
    file(READ "${ruvo_source}/shell/${f}" text)
    string(REPLACE "(path resolve (status dirname)/../../ruvo/ruvo_palette.sh)"
                   "'${share}/ruvo/ruvo_palette.sh'" text "${text}")
    file(WRITE "${fish_from}/${f}" "${text}")
  endforeach()
endif()

file(INSTALL "${ruvo_source}/shell/ruvo.bash" DESTINATION "${share}/bash-completion/completions"
     RENAME ruvo)
file(INSTALL "${ruvo_source}/shell/_ruvo" DESTINATION "${zsh_dir}")
file(INSTALL "${ruvo_source}/shell/ruvo.fish" DESTINATION "${fish_completions}")
file(INSTALL "${fish_from}/ruvo_palette-completion.fish" DESTINATION "${fish_completions}"
     RENAME ruvo_palette.fish)
file(INSTALL "${fish_from}/ruvo_palette.fish" DESTINATION "${fish_functions}")
file(INSTALL "${ruvo_source}/shell/ruvo_palette.sh" DESTINATION "${share}/ruvo")
