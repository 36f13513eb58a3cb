# The browser build: the show's libraries over platform/web, linked into
# tumble.js + tumble.wasm next to the page (index.html). No emscripten ports
# and no legacy GL emulation: platform/web/gl is the show's OpenGL 1.1.
# The mixer's SSE2 code runs as WebAssembly SIMD.
add_compile_options(-msimd128 -msse2)

add_library(tumble_base STATIC platform/hooks.cpp platform/web/system.cpp)
target_link_libraries(tumble_base PUBLIC tumble_data)

file(GLOB PLATFORM_SOURCES CONFIGURE_DEPENDS platform/web/*.cpp platform/web/gl/*.cpp)
list(FILTER PLATFORM_SOURCES EXCLUDE REGEX "/(main|system)\\.cpp$")
add_library(tumble_platform STATIC ${PLATFORM_SOURCES})
target_link_libraries(tumble_platform PUBLIC tumble_base)

foreach(unit music texgen assets)
  file(GLOB ${unit}_SOURCES CONFIGURE_DEPENDS ${unit}/*.cpp)
  list(FILTER ${unit}_SOURCES EXCLUDE REGEX "_gl\\.cpp$")
  add_library(tumble_${unit} STATIC ${${unit}_SOURCES})
  target_link_libraries(tumble_${unit} PUBLIC tumble_base)
endforeach()

file(GLOB SHOW_SOURCES CONFIGURE_DEPENDS texgen/*_gl.cpp assets/*_gl.cpp text/*.cpp scenes/*.cpp shell/*.cpp)
add_library(tumble_core STATIC ${SHOW_SOURCES})
target_link_libraries(tumble_core PUBLIC tumble_music tumble_texgen tumble_assets tumble_platform)

# The chooser and the mixing thread block; asyncify lets them wait for the page.
add_executable(tumble platform/web/main.cpp)
set_target_properties(tumble PROPERTIES SUFFIX ".js")
target_link_libraries(tumble PRIVATE tumble_core)
target_link_options(tumble PRIVATE
  -sENVIRONMENT=web -sUSE_SDL=0 -sMIN_WEBGL_VERSION=1 -sMAX_WEBGL_VERSION=1
  -sASYNCIFY -sASYNCIFY_STACK_SIZE=262144
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=67108864
  -sEXPORTED_FUNCTIONS=_main,_webAudioCallback,_webPublishAudio)
add_custom_command(TARGET tumble POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/platform/web/index.html
          ${CMAKE_BINARY_DIR}/index.html)
