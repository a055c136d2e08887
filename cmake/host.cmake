# Native build: the authoring side, the unit tests on the stand-in of Windows,
# benchmarks, fuzzers and the driver of the Wine end-to-end tests.
find_package(GTest REQUIRED)
enable_testing()
include(GoogleTest)

# The stand-in of Windows that platform/win.h gives the installer's code on
# the host; it lives beside the tests, its only users.
add_library(windows_stand_in STATIC tests/windows/host_windows.cpp)
target_include_directories(windows_stand_in PUBLIC ${CMAKE_SOURCE_DIR}
  ${CMAKE_SOURCE_DIR}/tests/windows)

add_library(installer_core STATIC ${INSTALLER_CORE_SOURCES})
target_link_libraries(installer_core PUBLIC windows_stand_in)

add_library(package_writer STATIC package/pe_image.cpp package/writer.cpp package/reader.cpp)
target_include_directories(package_writer PUBLIC ${CMAKE_SOURCE_DIR})

# Run by the Windows build on every installer it links; built before it.
add_executable(layoutcheck tools/layoutcheck/main.cpp)
target_link_libraries(layoutcheck PRIVATE package_writer)

# The installer, built twice in two places from two copies of the sources,
# must come out the same.
add_test(NAME reproducible_installer COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible)
set_tests_properties(reproducible_installer PROPERTIES LABELS repro TIMEOUT 600)

# The README's worked saverpack example prints what the README shows.
add_test(NAME readme_examples
  COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/docs/readme_examples.py ${CMAKE_SOURCE_DIR}/README.md
          ${CMAKE_BINARY_DIR}/..)
set_tests_properties(readme_examples PROPERTIES LABELS docs TIMEOUT 120)

# What scripts/in-vm promises, wherever an emulated PC has been made (in
# BUILD/vm, beside this build); skipped elsewhere.
add_test(NAME in_vm COMMAND ${CMAKE_SOURCE_DIR}/tests/vm/in-vm-test ${CMAKE_BINARY_DIR}/..)
set_tests_properties(in_vm PROPERTIES LABELS vm TIMEOUT 900 SKIP_RETURN_CODE 77)
# What install-deps, wine-host and in-vm choose on an imperfect host (a
# mirror caught mid-sync, a KVM that cannot start a guest), on stand-ins.
add_test(NAME host_choice COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/vm/host_choice_test.py)
set_tests_properties(host_choice PROPERTIES LABELS vm TIMEOUT 300)

# Who answers for saverpack's packages: its .deb and its Debian changelog.
set(SAVERPACK_MAINTAINER "The Torvanix screen saver maintainers <maintainers@torvanix.example>")

# SKIP_SUBDIRS lets a developer build some parts while another is half-made.
foreach(dir examples/aquarium tests/unit decoder tools/saverpack tests/saverpack tests/package tests/web bench fuzz
    tests/e2e)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt AND NOT dir IN_LIST SKIP_SUBDIRS)
    add_subdirectory(${dir})
  endif()
endforeach()
include(cmake/package.cmake)
