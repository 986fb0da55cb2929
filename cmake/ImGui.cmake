# Dear ImGui 1.86 from the sources scripts/setup unpacks into third_party/imgui
# (no Debian binary package ships them). One source set serves both builds.
set(TARVO_IMGUI_DIR "${PROJECT_SOURCE_DIR}/third_party/imgui" CACHE PATH "Dear ImGui 1.86 sources")
if(NOT EXISTS "${TARVO_IMGUI_DIR}/imgui.h")
  message(FATAL_ERROR "Dear ImGui sources not found in ${TARVO_IMGUI_DIR}: run scripts/setup")
endif()

add_library(tarvo_imgui STATIC
  "${TARVO_IMGUI_DIR}/imgui.cpp"
  "${TARVO_IMGUI_DIR}/imgui_draw.cpp"
  "${TARVO_IMGUI_DIR}/imgui_tables.cpp"
  "${TARVO_IMGUI_DIR}/imgui_widgets.cpp"
  "${TARVO_IMGUI_DIR}/misc/cpp/imgui_stdlib.cpp")
target_include_directories(tarvo_imgui SYSTEM PUBLIC "${TARVO_IMGUI_DIR}" "${TARVO_IMGUI_DIR}/misc/cpp")
# imgui.h mixes enums in arithmetic, which C++20 deprecates.
target_compile_options(tarvo_imgui PUBLIC -Wno-deprecated-enum-enum-conversion)

add_library(tarvo_imgui_backends STATIC "${TARVO_IMGUI_DIR}/backends/imgui_impl_opengl3.cpp")
# The OpenGL 3 loader of 1.86 fills its 53-entry pointer array with 54 entries;
# the union around it holds 54, so the write stays inside the object, but the
# bounds sanitizer reports it.
set_source_files_properties("${TARVO_IMGUI_DIR}/backends/imgui_impl_opengl3.cpp" PROPERTIES
  COMPILE_OPTIONS "-fno-sanitize=bounds")
target_include_directories(tarvo_imgui_backends SYSTEM PUBLIC "${TARVO_IMGUI_DIR}/backends")
target_link_libraries(tarvo_imgui_backends PUBLIC tarvo_imgui)
if(WIN32)
  target_sources(tarvo_imgui_backends PRIVATE
    "${TARVO_IMGUI_DIR}/backends/imgui_impl_win32.cpp"
    "${TARVO_IMGUI_DIR}/backends/imgui_impl_opengl2.cpp")
  target_link_libraries(tarvo_imgui_backends PUBLIC opengl32 gdi32 dwmapi)
  # Its gamepad support loads xinput by bare name, which the program's own
  # folder (the program-data folder, for the installed copy) could answer.
  target_compile_definitions(tarvo_imgui_backends PRIVATE IMGUI_IMPL_WIN32_DISABLE_GAMEPAD)
else()
  find_package(glfw3 REQUIRED)
  find_package(OpenGL REQUIRED)
  target_sources(tarvo_imgui_backends PRIVATE "${TARVO_IMGUI_DIR}/backends/imgui_impl_glfw.cpp")
  target_link_libraries(tarvo_imgui_backends PUBLIC glfw OpenGL::GL ${CMAKE_DL_LIBS})
endif()

# Header-only Debian packages for both builds. The cross compiler must never
# see /usr/include itself, so it gets a folder of links to the few it needs.
set(TARVO_SYSTEM_HEADER_LINKS "${CMAKE_BINARY_DIR}/system-header-links")
file(MAKE_DIRECTORY "${TARVO_SYSTEM_HEADER_LINKS}")
if(NOT EXISTS "${TARVO_SYSTEM_HEADER_LINKS}/stb")
  file(CREATE_LINK /usr/include/stb "${TARVO_SYSTEM_HEADER_LINKS}/stb" SYMBOLIC)
endif()
add_library(tarvo_stb INTERFACE)
target_include_directories(tarvo_stb SYSTEM INTERFACE "${TARVO_SYSTEM_HEADER_LINKS}")
