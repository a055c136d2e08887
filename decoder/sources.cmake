# Decoder sources that the installer itself carries; the host build compiles
# them too, into installer_core.
set(DECODER_CORE_SOURCES decoder/tree.cpp decoder/decode.cpp decoder/streams.cpp)
list(APPEND INSTALLER_CORE_SOURCES ${DECODER_CORE_SOURCES})

