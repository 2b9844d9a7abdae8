# The launcher's tests, included from launcher/CMakeLists.txt.
include(GoogleTest)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run)
set(PARVANE_LAUNCHER_TESTS_DIR ${CMAKE_SOURCE_DIR}/tests)

# Small programs whose version blocks are the maker check's cases: the maker's name exact (two
# of them, told apart by their description), in other letter case, under the second of two
# translations, and no version block at all.
set(PARVANE_MAKER_FIXTURES genuine32 genuine64 case second none)
set(PARVANE_MAKER_FIXTURE_FILES)
set(kind 1)
foreach(fixture ${PARVANE_MAKER_FIXTURES})
  add_executable(maker_${fixture} ${PARVANE_LAUNCHER_TESTS_DIR}/res/maker_fixture.c ${PARVANE_LAUNCHER_TESTS_DIR}/res/maker_fixture.rc)
  set_target_properties(maker_${fixture} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/generated/fixtures)
  target_compile_options(maker_${fixture} PRIVATE $<$<COMPILE_LANGUAGE:RC>:-DFIXTURE_KIND=${kind}>)
  target_link_options(maker_${fixture} PRIVATE -s)
  list(APPEND PARVANE_MAKER_FIXTURE_FILES ${CMAKE_BINARY_DIR}/generated/fixtures/maker_${fixture}.exe)
  math(EXPR kind "${kind} + 1")
endforeach()

# Packed streams: the two genuine fixtures in the places of the two builds, and damaged ones.
set(fixtures_dir ${CMAKE_BINARY_DIR}/generated/fixtures)
file(MAKE_DIRECTORY ${fixtures_dir})
file(WRITE ${fixtures_dir}/empty.bin "")
set(PARVANE_PACKED_FIXTURES)
foreach(fixture "genuine32;maker_genuine32;" "genuine64;maker_genuine64;" "truncated;maker_genuine64;truncated"
             "corrupt;maker_genuine64;corrupt" "foreign;maker_case;")
  list(GET fixture 0 name)
  list(GET fixture 1 source)
  list(GET fixture 2 damage)
  add_custom_command(
    OUTPUT ${fixtures_dir}/${name}.lzma
    COMMAND ${PARVANE_PACK_MODULE} $<TARGET_FILE:${source}> ${fixtures_dir}/${name}.lzma ${damage}
    DEPENDS ${PARVANE_PACK_MODULE} ${source}
    COMMENT "Packing the fixture stream ${name}")
  list(APPEND PARVANE_PACKED_FIXTURES ${fixtures_dir}/${name}.lzma)
endforeach()

add_library(launcher_fixture_resources OBJECT ${PARVANE_LAUNCHER_TESTS_DIR}/res/launcher_fixtures.rc)
target_compile_options(launcher_fixture_resources PRIVATE ${PARVANE_RC_INCLUDES} -I${fixtures_dir} -DPARVANE_TOOL=0)
set_source_files_properties(${PARVANE_LAUNCHER_TESTS_DIR}/res/launcher_fixtures.rc PROPERTIES
  OBJECT_DEPENDS "${PARVANE_PACKED_FIXTURES};${PARVANE_MAKER_FIXTURE_FILES};${CMAKE_SOURCE_DIR}/common/res/strings.rc")

# In-process, through the seam: runs from a copy of itself on E:, as the launcher does.
parvane_test(launcher_tests launcher_lib launcher_fixture_resources fixtures shlwapi
  ${PARVANE_LAUNCHER_TESTS_DIR}/support/run_from_drive.cpp
  ${PARVANE_LAUNCHER_TESTS_DIR}/support/launcher_seam.cpp
  ${PARVANE_LAUNCHER_TESTS_DIR}/support/launcher_files.cpp
  ${PARVANE_LAUNCHER_TESTS_DIR}/unit/launcher_install_test.cpp
  ${PARVANE_LAUNCHER_TESTS_DIR}/unit/launcher_launch_test.cpp
  ${PARVANE_LAUNCHER_TESTS_DIR}/unit/launcher_entry_test.cpp)
set_target_properties(launcher_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
add_dependencies(launcher_tests fake_service)

# End to end: the launcher built here (the shipped one in the x86 configure, the test-only
# x64 one in the other) started from drive E: under Wine.
if(PARVANE_LAUNCHER_READY)
  function(parvane_windows_relative out from to)
    file(RELATIVE_PATH relative ${from} ${to})
    string(REPLACE "/" "\\\\" relative "${relative}")
    set(${out} "${relative}" PARENT_SCOPE)
  endfunction()
  parvane_windows_relative(launcher_file ${CMAKE_BINARY_DIR}/tests ${PARVANE_LAUNCHER_DIR}/Parvane.exe)
  if(PARVANE_BITS STREQUAL "32")
    parvane_windows_relative(tool32_file ${CMAKE_BINARY_DIR}/tests ${CMAKE_BINARY_DIR}/Parvane32.exe)
    parvane_windows_relative(tool64_file ${CMAKE_BINARY_DIR}/tests ${PARVANE_OTHER_TOOL})
  else()
    parvane_windows_relative(tool32_file ${CMAKE_BINARY_DIR}/tests ${PARVANE_OTHER_TOOL})
    parvane_windows_relative(tool64_file ${CMAKE_BINARY_DIR}/tests ${CMAKE_BINARY_DIR}/Parvane64.exe)
  endif()
  parvane_test(launcher_e2e_tests launcher_core launcher_test_resources fixtures gtest_main
    ${PARVANE_LAUNCHER_TESTS_DIR}/e2e/tool_process.cpp
    ${PARVANE_LAUNCHER_TESTS_DIR}/e2e/folder_window.cpp
    ${PARVANE_LAUNCHER_TESTS_DIR}/support/launcher_files.cpp
    ${PARVANE_LAUNCHER_TESTS_DIR}/e2e/launcher_e2e_test.cpp)
  set_target_properties(launcher_e2e_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(launcher_e2e_tests PRIVATE ole32 uuid)
  target_compile_definitions(launcher_e2e_tests PRIVATE
    PARVANE_LAUNCHER_FILE=L\"${launcher_file}\" PARVANE_TOOL32_FILE=L\"${tool32_file}\"
    PARVANE_TOOL64_FILE=L\"${tool64_file}\" PARVANE_TOOL_FILE=L\"${PARVANE_TOOL_NAME}.exe\")
  add_dependencies(launcher_e2e_tests ${PARVANE_LAUNCHER} fake_service)
endif()
