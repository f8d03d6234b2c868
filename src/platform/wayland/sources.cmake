# Wayland back ends for compositors built on wlroots (sway, Hyprland, river, ...).
# The foreign-toplevel protocol is not packaged in Debian 12; its description lives in protocols/
# and the client code is generated into the build tree.
set(murmelo_wayland_generated "${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols")
set(murmelo_foreign_toplevel_xml
    "${CMAKE_CURRENT_SOURCE_DIR}/wayland/protocols/wlr-foreign-toplevel-management-unstable-v1.xml")
add_custom_command(
  OUTPUT "${murmelo_wayland_generated}/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
         "${murmelo_wayland_generated}/wlr-foreign-toplevel-management-unstable-v1-protocol.c"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${murmelo_wayland_generated}"
  COMMAND "${WAYLAND_SCANNER}" client-header "${murmelo_foreign_toplevel_xml}"
          "${murmelo_wayland_generated}/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
  COMMAND "${WAYLAND_SCANNER}" private-code "${murmelo_foreign_toplevel_xml}"
          "${murmelo_wayland_generated}/wlr-foreign-toplevel-management-unstable-v1-protocol.c"
  DEPENDS "${murmelo_foreign_toplevel_xml}"
  COMMENT "Generating the foreign-toplevel protocol client code"
  VERBATIM)

target_sources(murmelo_platform PRIVATE
  wayland/WaylandClient.h wayland/WaylandClient.cpp
  wayland/ToolProcess.h wayland/ToolProcess.cpp
  wayland/PasteboardWlClipboard.h wayland/PasteboardWlClipboard.cpp
  wayland/SyntheticKeyboardWtype.h wayland/SyntheticKeyboardWtype.cpp
  "${murmelo_wayland_generated}/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
  "${murmelo_wayland_generated}/wlr-foreign-toplevel-management-unstable-v1-protocol.c")
target_include_directories(murmelo_platform PRIVATE "${murmelo_wayland_generated}")
