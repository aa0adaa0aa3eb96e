# The client's pictures: drawn by a small program at build time and compiled
# into the Qt layer as resources (":/images/...").
add_executable(mirvo-draw-images ${CMAKE_SOURCE_DIR}/client/res/draw_images.cpp)
target_link_libraries(mirvo-draw-images PRIVATE Qt6::Gui)

set(mirvo_image_dir ${CMAKE_CURRENT_BINARY_DIR}/images)
set(mirvo_images icon127.png icon127_16.png icon204.png icon205.png banner189.png toolbar127.png)
list(TRANSFORM mirvo_images PREPEND ${mirvo_image_dir}/ OUTPUT_VARIABLE mirvo_image_files)
add_custom_command(
  OUTPUT ${mirvo_image_files}
  COMMAND mirvo-draw-images ${mirvo_image_dir}
  DEPENDS mirvo-draw-images
  COMMENT "Drawing the client's icons and bitmaps"
  VERBATIM)
set_source_files_properties(${mirvo_image_files} PROPERTIES GENERATED TRUE)
qt_add_resources(mirvo_qt mirvo_images PREFIX /images BASE ${mirvo_image_dir} FILES ${mirvo_image_files})
