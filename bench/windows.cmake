# The decoder as the installer ships it, timed under Wine by `make bench`: the
# harness and the plain decoder get the decoder's own flags, and the decoder's
# objects are the installer's own.
add_executable(shipped_bench ${CMAKE_SOURCE_DIR}/bench/shipped_bench.cpp)
target_compile_options(shipped_bench PRIVATE ${INSTALLER_CFLAGS} ${DECODER_CFLAGS})
target_link_libraries(shipped_bench PRIVATE installer_core)
# Linked statically so that a bare prefix runs it.
target_link_options(shipped_bench PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(shipped_bench PROPERTIES
  EXCLUDE_FROM_ALL ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
