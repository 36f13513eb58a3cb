# The browser build's program: the show's libraries over platform/web, linked
# into tumble.js + tumble.wasm next to the page (index.html), and the same
# page as one file (tumble.html) that runs without a host. No emscripten
# ports and no legacy GL emulation: platform/web/gl is the show's OpenGL 1.1.
# The chooser and the mixing thread block; asyncify lets them wait for the page.
# The glyph atlas, rendered on the build machine (platform/web/glyphs.cpp).
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/generated/web_atlas.inc
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/web-atlas.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated/web_atlas.inc
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/web-atlas.sh ${CMAKE_SOURCE_DIR}/platform/sdl/glyphs.cpp
          ${CMAKE_SOURCE_DIR}/platform/web/host/atlas.cpp
  VERBATIM)
add_custom_target(web_atlas DEPENDS ${CMAKE_BINARY_DIR}/generated/web_atlas.inc)
add_dependencies(tumble_platform web_atlas)
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/web/glyphs.cpp PROPERTIES
                            OBJECT_DEPENDS ${CMAKE_BINARY_DIR}/generated/web_atlas.inc)

add_executable(tumble platform/web/main.cpp)
set_target_properties(tumble PROPERTIES SUFFIX ".js")
target_link_libraries(tumble PRIVATE tumble_core)
target_link_options(tumble PRIVATE
  -sENVIRONMENT=web -sUSE_SDL=0 -sMIN_WEBGL_VERSION=1 -sMAX_WEBGL_VERSION=1
  -sASYNCIFY -sASYNCIFY_STACK_SIZE=262144
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=67108864
  -sEXPORTED_FUNCTIONS=_main,_webAudioCallback,_webPublishAudio
  --js-library ${CMAKE_SOURCE_DIR}/platform/web/page.js -sASYNCIFY_IMPORTS=pageWaitAnimationFrame)
# The page's script library, and the page the link step copies.
set_target_properties(tumble PROPERTIES LINK_DEPENDS
                      "${CMAKE_SOURCE_DIR}/platform/web/page.js;${CMAKE_SOURCE_DIR}/platform/web/index.html")
find_program(TUMBLE_PYTHON NAMES python3 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
add_custom_command(TARGET tumble POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/platform/web/index.html
          ${CMAKE_BINARY_DIR}/index.html
  COMMAND ${TUMBLE_PYTHON} ${CMAKE_SOURCE_DIR}/scripts/web-onefile.py ${CMAKE_SOURCE_DIR}/platform/web/index.html
          ${CMAKE_BINARY_DIR}/tumble.js ${CMAKE_BINARY_DIR}/tumble.wasm ${CMAKE_BINARY_DIR}/tumble.html)
# Every gl* and glu* call of the show must land in platform/web/gl: checked
# before the link, which would otherwise take emscripten's own binding.
add_custom_command(TARGET tumble PRE_LINK
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-gl-subset.sh ${CMAKE_NM}
          $<TARGET_OBJECTS:tumble> $<TARGET_FILE:tumble_core> $<TARGET_FILE:tumble_platform>
          $<TARGET_FILE:tumble_music> $<TARGET_FILE:tumble_texgen> $<TARGET_FILE:tumble_assets>
          $<TARGET_FILE:tumble_base> $<TARGET_FILE:tumble_data>
  VERBATIM)
