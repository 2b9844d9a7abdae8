# liblzma and libcrypto, cross-built by scripts/build-deps. Imported as static libraries.
set(PARVANE_XZ_PREFIX ${PARVANE_DEPS_ROOT}/${PARVANE_ARCH}/xz)
set(PARVANE_OPENSSL_PREFIX ${PARVANE_DEPS_ROOT}/${PARVANE_ARCH}/openssl)
foreach(f ${PARVANE_XZ_PREFIX}/lib/liblzma.a ${PARVANE_OPENSSL_PREFIX}/lib/libcrypto.a)
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "${f} is missing: run scripts/build-deps first")
  endif()
endforeach()

add_library(deps_lzma STATIC IMPORTED GLOBAL)
set_target_properties(deps_lzma PROPERTIES
  IMPORTED_LOCATION ${PARVANE_XZ_PREFIX}/lib/liblzma.a
  INTERFACE_INCLUDE_DIRECTORIES ${PARVANE_XZ_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)

add_library(deps_crypto STATIC IMPORTED GLOBAL)
set_target_properties(deps_crypto PROPERTIES
  IMPORTED_LOCATION ${PARVANE_OPENSSL_PREFIX}/lib/libcrypto.a
  INTERFACE_INCLUDE_DIRECTORIES ${PARVANE_OPENSSL_PREFIX}/include
  # The single-block AES calls: far smaller than the EVP layer, which the launcher's size needs.
  INTERFACE_COMPILE_DEFINITIONS OPENSSL_API_COMPAT=10101
  INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;advapi32;user32")

# IsUserAnAdmin is imported from shell32 by its ordinal, 680: the name is not exported by
# every shell32 the tool may meet. A small import library says so.
set(PARVANE_SHELL32_DEF ${CMAKE_BINARY_DIR}/generated/shell32_ordinals.def)
if(PARVANE_ARCH STREQUAL "i686")
  set(PARVANE_ISUSERANADMIN "IsUserAnAdmin@0 @680 NONAME")
else()
  set(PARVANE_ISUSERANADMIN "IsUserAnAdmin @680 NONAME")
endif()
file(WRITE ${PARVANE_SHELL32_DEF} "LIBRARY shell32.dll\nEXPORTS\n    ${PARVANE_ISUSERANADMIN}\n")
set(PARVANE_SHELL32_LIB ${CMAKE_BINARY_DIR}/generated/libshell32_ordinals.a)
find_program(PARVANE_DLLTOOL NAMES ${PARVANE_TRIPLET}-dlltool REQUIRED)
add_custom_command(
  OUTPUT ${PARVANE_SHELL32_LIB}
  COMMAND ${PARVANE_DLLTOOL} -d ${PARVANE_SHELL32_DEF} -l ${PARVANE_SHELL32_LIB} $<$<STREQUAL:${PARVANE_ARCH},i686>:-k>
  DEPENDS ${PARVANE_SHELL32_DEF})
add_custom_target(shell32_ordinals_lib DEPENDS ${PARVANE_SHELL32_LIB})
add_library(shell32_ordinals STATIC IMPORTED GLOBAL)
set_target_properties(shell32_ordinals PROPERTIES IMPORTED_LOCATION ${PARVANE_SHELL32_LIB})
add_dependencies(shell32_ordinals shell32_ordinals_lib)
