# The steps of the per-user installation that run at install time, included
# by cmake_install.cmake (see install.cmake). They share the values of one
# run through MIRVO_* variables of the install script's scope.

# The user's data folder, where desktops look for menu entries, icons and
# metainfo.
function(mirvo_data_home out)
  if("$ENV{XDG_DATA_HOME}" MATCHES "^/")
    set(home "$ENV{XDG_DATA_HOME}")
  elseif("$ENV{HOME}" MATCHES "^/")
    set(home "$ENV{HOME}/.local/share")
  else()
    message(FATAL_ERROR "Mirvo: neither XDG_DATA_HOME nor HOME names a folder for the menu entry")
  endif()
  set(${out} "$ENV{DESTDIR}${home}" PARENT_SCOPE)
endfunction()

# Before anything is written: which folders this installation will create
# (they go again on uninstall, when empty), and what an installation into
# the same folder wrote before (it stays listed, so nothing of it is left).
function(mirvo_install_begin)
  set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  mirvo_data_home(data)
  # The manifest is one path a line, and CMake's lists split at ";".
  if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}" OR "${prefix}${data}" MATCHES "[\n;]")
    message(FATAL_ERROR "Mirvo: the program folder and the data folder must be absolute paths "
                        "without line breaks or \";\": ${CMAKE_INSTALL_PREFIX}, ${data}")
  endif()
  set(dirs "${prefix}/help" "${prefix}/ruffle" "${data}/applications" "${data}/metainfo")
  foreach(size IN LISTS MIRVO_ICON_SIZES)
    list(APPEND dirs "${data}/icons/hicolor/${size}x${size}/apps")
  endforeach()
  set(created)
  foreach(dir IN LISTS dirs)
    while(NOT EXISTS "${dir}")
      list(APPEND created "${dir}")
      get_filename_component(dir "${dir}" DIRECTORY)
    endwhile()
  endforeach()
  set(earlier)
  if(EXISTS "${prefix}/install_manifest.txt")
    file(STRINGS "${prefix}/install_manifest.txt" lines ENCODING UTF-8)
    foreach(line IN LISTS lines)
      if(line MATCHES "^dir (/.*)$")
        list(APPEND created "${CMAKE_MATCH_1}")
      elseif(line MATCHES "^file (/.*)$" AND EXISTS "${CMAKE_MATCH_1}")
        list(APPEND earlier "${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endif()
  list(REMOVE_DUPLICATES created)
  set(MIRVO_CREATED_DIRS "${created}" PARENT_SCOPE)
  set(MIRVO_EARLIER_FILES "${earlier}" PARENT_SCOPE)
  set(MIRVO_DATA_HOME "${data}" PARENT_SCOPE)
endfunction()

# The menu entry (written for this program folder by entry_tool), the theme
# icons and the metainfo, from the build's desktop folder.
function(mirvo_install_desktop entry_tool desktop_dir)
  set(entry "${desktop_dir}/entry/${MIRVO_APP_ID}.desktop")
  file(MAKE_DIRECTORY "${desktop_dir}/entry")
  execute_process(COMMAND "${entry_tool}" "${entry}" "${CMAKE_INSTALL_PREFIX}" "${MIRVO_APP_ID}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Mirvo: the menu entry could not be written")
  endif()
  file(INSTALL DESTINATION "${MIRVO_DATA_HOME}/applications" TYPE FILE FILES "${entry}")
  file(INSTALL DESTINATION "${MIRVO_DATA_HOME}/metainfo" TYPE FILE
       FILES "${desktop_dir}/${MIRVO_APP_ID}.metainfo.xml")
  foreach(size IN LISTS MIRVO_ICON_SIZES)
    file(INSTALL DESTINATION "${MIRVO_DATA_HOME}/icons/hicolor/${size}x${size}/apps" TYPE FILE
         FILES "${desktop_dir}/icons/${size}x${size}/apps/${MIRVO_APP_ID}.png")
  endforeach()
  # file(INSTALL) lists what it writes in this function's scope.
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# Every file this installation (and one before it into the same folder)
# wrote, and every folder it created, one a line.
function(mirvo_write_manifest)
  set(files)
  foreach(f IN LISTS MIRVO_EARLIER_FILES CMAKE_INSTALL_MANIFEST_FILES)
    cmake_path(SET f NORMALIZE "${f}")  # "FOLDER/./mirvo" is FOLDER/mirvo
    list(APPEND files "${f}")
  endforeach()
  list(REMOVE_DUPLICATES files)
  set(text "# What Mirvo's installation wrote here and in the data folder. scripts/install.sh\n# --uninstall removes these files, and these folders when they are empty.\n")
  foreach(f IN LISTS files)
    string(APPEND text "file ${f}\n")
  endforeach()
  foreach(d IN LISTS MIRVO_CREATED_DIRS)
    string(APPEND text "dir ${d}\n")
  endforeach()
  file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/install_manifest.txt" "${text}")
  message(STATUS "Manifest: $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/install_manifest.txt")
endfunction()
