# Programs that run on the build machine. They are built with the host's compiler directly,
# since the rest of this configure targets Windows.
find_program(PARVANE_HOST_CXX NAMES c++ g++ REQUIRED)
set(PARVANE_HOST_BIN ${CMAKE_BINARY_DIR}/host)
file(MAKE_DIRECTORY ${PARVANE_HOST_BIN} ${CMAKE_BINARY_DIR}/generated)

add_custom_command(
  OUTPUT ${PARVANE_HOST_BIN}/make_icons
  COMMAND ${PARVANE_HOST_CXX} -O2 -std=c++17 -o ${PARVANE_HOST_BIN}/make_icons ${CMAKE_SOURCE_DIR}/tools/make_icons/make_icons.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_icons/make_icons.cpp
  COMMENT "Building the icon painter for the build machine")

set(PARVANE_ICONS ${CMAKE_BINARY_DIR}/generated/icon102.ico ${CMAKE_BINARY_DIR}/generated/icon103.ico)
add_custom_command(
  OUTPUT ${PARVANE_ICONS}
  COMMAND ${PARVANE_HOST_BIN}/make_icons ${PARVANE_ICONS}
  DEPENDS ${PARVANE_HOST_BIN}/make_icons
  COMMENT "Drawing the icons")
