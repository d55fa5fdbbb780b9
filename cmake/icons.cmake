# The icons are drawn once, as 32x32 XPM images in resources/icons. The resource
# script names the Windows icon files (.ico, 16 colours with a transparency
# mask, as Windows 95 reads them); xpm2ico makes them at build time. It runs on
# the build machine, so a cross build builds it with the build machine's own
# compiler.
if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(UINQ_XPM2ICO ${CMAKE_BINARY_DIR}/host-tools/xpm2ico)
  ExternalProject_Add(xpm2ico_host
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools/icons
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${UINQ_XPM2ICO})
  set(UINQ_XPM2ICO_TARGET xpm2ico_host)
else()
  add_subdirectory(tools/icons)
  set(UINQ_XPM2ICO $<TARGET_FILE:xpm2ico>)
  set(UINQ_XPM2ICO_TARGET xpm2ico)
endif()

# Adds the commands that write DIR/icons/NAME.ico for every
# resources/icons/NAME.xpm, and sets OUT_VAR to the list of files written.
function(uinq_add_icons dir out_var)
  file(GLOB xpm_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/icons/*.xpm)
  set(ico_files "")
  foreach(xpm IN LISTS xpm_files)
    get_filename_component(name ${xpm} NAME_WE)
    set(ico ${dir}/icons/${name}.ico)
    add_custom_command(
      OUTPUT ${ico}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/icons
      COMMAND ${UINQ_XPM2ICO} ${xpm} ${ico}
      DEPENDS ${xpm} ${UINQ_XPM2ICO_TARGET}
      COMMENT "Making icons/${name}.ico"
      VERBATIM)
    list(APPEND ico_files ${ico})
  endforeach()
  set(${out_var} ${ico_files} PARENT_SCOPE)
endfunction()
