# Decoder sources that the installer itself carries; the host build compiles
# them too, into installer_core.
list(APPEND INSTALLER_CORE_SOURCES decoder/tree.cpp decoder/decode.cpp decoder/streams.cpp)

# With one section per object, mingw's GCC gives each zero-filled global a
# section of its own in .data, stored in the file: the decoder's 40 KiB of
# tables and stream buffers would be carried by every installer. Kept whole,
# they stay in .bss and cost nothing on disk.
set_source_files_properties(decoder/decode.cpp decoder/streams.cpp
  PROPERTIES COMPILE_OPTIONS -fno-data-sections)
