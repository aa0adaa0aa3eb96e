# cmake -DSRC=<unpacked package> -DDST=<folder> -P copy_ruffle.cmake
# The player needs the loader, its chunks and the two WebAssembly builds (one
# for engines with the newer extensions, one without); source maps stay out.
if(NOT EXISTS "${SRC}/ruffle.js")
  message(WARNING "Ruffle is missing from ${SRC}: run scripts/fetch-ruffle.sh; the player will show nothing")
  return()
endif()
file(GLOB files "${SRC}/ruffle.js" "${SRC}/core.ruffle.*.js" "${SRC}/*.wasm" "${SRC}/LICENSE_*" "${SRC}/.version")
list(FILTER files EXCLUDE REGEX "\\.map$")
file(MAKE_DIRECTORY "${DST}")
foreach(f IN LISTS files)
  get_filename_component(name "${f}" NAME)
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${f}" "${DST}/${name}")
endforeach()
