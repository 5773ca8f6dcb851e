# The built-in pictures (RT_RCDATA, resources/images.rc): drawn by tools/make_images.py into
# ${LI_RESOURCE_OUT}/images; the three JPEG pictures go through ImageMagick's convert, the
# PNG pictures through zopflipng.
find_program(LI_IMAGEMAGICK_CONVERT convert PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT LI_IMAGEMAGICK_CONVERT)
  find_program(LI_IMAGEMAGICK_CONVERT convert REQUIRED)
endif()
find_program(LI_ZOPFLIPNG zopflipng REQUIRED)
set(LI_IMAGE_DIR ${LI_RESOURCE_OUT}/images)
set(LI_IMAGE_FILES
  cancel_button.png close_button.png install_button.png check_box.png
  offer_logo.png progress_logo.png offer_logo_ru.png progress_logo_ru.png
  offer_logo_2x.png progress_logo_2x.png offer_logo_ru_2x.png progress_logo_ru_2x.png
  progress_filled.png progress_empty.png
  dialog_background.png
  shadow_top_left.png shadow_top_right.png shadow_bottom_right.png shadow_bottom_left.png
  shadow_left.png shadow_top.png shadow_right.png shadow_bottom.png
  background.jpg first_slide.jpg first_slide_ru.jpg)
list(TRANSFORM LI_IMAGE_FILES PREPEND ${LI_IMAGE_DIR}/ OUTPUT_VARIABLE LI_IMAGE_OUTPUTS)
add_custom_command(
  OUTPUT ${LI_IMAGE_OUTPUTS}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make_images.py ${LI_IMAGE_DIR}
          ${LI_IMAGEMAGICK_CONVERT} ${LI_ZOPFLIPNG}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_images.py
  COMMENT "Drawing the installer pictures")
list(APPEND LI_RESOURCE_DEPENDS ${LI_IMAGE_OUTPUTS})
