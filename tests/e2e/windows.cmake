# Windows programs of the Wine end-to-end tests: boxbot answers the
# installer's message boxes, probe_saver is the screen saver of test packages.
# Linked statically so that a bare prefix runs them.
foreach(tool boxbot probe_saver)
  add_executable(${tool} ${CMAKE_SOURCE_DIR}/tests/e2e/${tool}.cpp)
  target_link_options(${tool} PRIVATE -static -static-libgcc -static-libstdc++)
  set_target_properties(${tool} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endforeach()
set_target_properties(probe_saver PROPERTIES WIN32_EXECUTABLE ON)
target_link_libraries(boxbot PRIVATE user32)
