# `cmake --install` on a Linux desktop: the bundle goes to <prefix>/opt/Kovani.app (to
# /opt/Kovani.app when the prefix is /usr or /usr/local), the launcher to
# <prefix>/share/applications/kovani.desktop and the icon, at the icon theme's sizes, to
# <prefix>/share/icons/hicolor/<size>/apps/kovani.png. A user's default prefix is ~/.local,
# root's /usr/local. DESTDIR is honoured.
#
# In: KOVANI_BUNDLE_DIR, the targets Kovani and kovani_resources.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  execute_process(COMMAND id -u OUTPUT_VARIABLE _kovani_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT _kovani_uid STREQUAL "0" AND DEFINED ENV{HOME})
    set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Install path prefix" FORCE)
  endif()
endif()

# The icon at the sizes of the hicolor theme, made from the bundle's logo at build time.
set(KOVANI_ICON_SIZES 16 24 32 48 64 128 256 512)
set(KOVANI_ICONS_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
add_executable(kovani_icon_sizes ${CMAKE_SOURCE_DIR}/tools/icon-sizes.cpp)
target_link_libraries(kovani_icon_sizes PRIVATE Qt6::Gui)
set(_kovani_icon_files "")
foreach(_size ${KOVANI_ICON_SIZES})
  list(APPEND _kovani_icon_files ${KOVANI_ICONS_DIR}/${_size}x${_size}/apps/kovani.png)
endforeach()
add_custom_command(OUTPUT ${_kovani_icon_files}
  COMMAND kovani_icon_sizes ${CMAKE_SOURCE_DIR}/resources/AppIcon1024.png ${KOVANI_ICONS_DIR} ${KOVANI_ICON_SIZES}
  DEPENDS kovani_icon_sizes ${CMAKE_SOURCE_DIR}/resources/AppIcon1024.png
  COMMENT "Making the launcher icon")
add_custom_target(kovani_icons ALL DEPENDS ${_kovani_icon_files})
add_dependencies(Kovani kovani_icons)

configure_file(${CMAKE_SOURCE_DIR}/cmake/install-desktop.cmake.in ${CMAKE_BINARY_DIR}/install-desktop.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/install-desktop.cmake)
