# The per-user installation. `cmake --install BUILD --prefix FOLDER` (run by
# scripts/install.sh) lays out the program folder FOLDER as the build's own
# (the client and the updater, the player's files, mirvo.xml, the help page):
# the updater replaces files there, so it belongs to the user who installs.
# Then, in the user's data folder ($XDG_DATA_HOME, else ~/.local/share): the
# menu entry applications/<id>.desktop, which starts FOLDER/mirvo in FOLDER,
# the icon in icons/hicolor/<size>/apps and metainfo/<id>.metainfo.xml. Last,
# FOLDER/install_manifest.txt lists every file written and every folder
# created, for scripts/install.sh --uninstall to remove exactly those.
if(NOT MIRVO_GUI)
  return()
endif()

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local/share/mirvo" CACHE PATH "Program folder of an installation" FORCE)
endif()

install(CODE "
  include(\"${CMAKE_CURRENT_LIST_DIR}/install_steps.cmake\")
  set(MIRVO_APP_ID \"${MIRVO_APP_ID}\")
  set(MIRVO_ICON_SIZES \"${MIRVO_ICON_SIZES}\")
  mirvo_install_begin()")

install(TARGETS mirvo mupdate RUNTIME DESTINATION .)
install(DIRECTORY ${MIRVO_PROGRAM_DIR}/ruffle/ DESTINATION ruffle)
install(FILES ${MIRVO_PROGRAM_DIR}/mirvo.xml DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/client/res/help/help.htm DESTINATION help)

install(CODE "
  mirvo_install_desktop(\"$<TARGET_FILE:mirvo-desktop-entry>\" \"${MIRVO_DESKTOP_DIR}\")
  mirvo_write_manifest()")
