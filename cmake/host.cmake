# Native build: the authoring side, the unit tests on the stand-in of Windows,
# benchmarks, fuzzers and the driver of the Wine end-to-end tests.
find_package(GTest REQUIRED)
enable_testing()
include(GoogleTest)

add_library(platform_host STATIC platform/host_windows.cpp)
target_include_directories(platform_host PUBLIC ${CMAKE_SOURCE_DIR})

add_library(installer_core STATIC ${INSTALLER_CORE_SOURCES})
target_link_libraries(installer_core PUBLIC platform_host)

add_library(package_writer STATIC package/pe_image.cpp package/writer.cpp)
target_include_directories(package_writer PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(mkinstaller tools/mkinstaller/main.cpp)
target_link_libraries(mkinstaller PRIVATE package_writer codec)

# SKIP_SUBDIRS lets a developer build some parts while another is half-made.
foreach(dir examples/aquarium tests/unit decoder bench fuzz tests/e2e)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt AND NOT dir IN_LIST SKIP_SUBDIRS)
    add_subdirectory(${dir})
  endif()
endforeach()
