# The installer and the Windows test programs, cross-built with mingw-w64 i686.
enable_language(RC)

# Small and self-contained: no exceptions, no RTTI, no unwind tables, and
# nothing from libstdc++ or libgcc loaded at run time. No -fdata-sections:
# with it mingw's GCC gives each zero-filled global a section of its own in
# .data, stored in the file, and the decoder's 40 KiB of tables and stream
# buffers would be carried by every installer instead of sitting in .bss.
set(INSTALLER_CFLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -ffunction-sections -fno-threadsafe-statics)
# ASLR and DEP, as Windows expects of a program that runs elevated from a
# download folder: the image is based anew at every start, so it keeps its
# relocations. The package is written from the LASTRES data onward and must
# overwrite nothing of the image, so .rsrc stays the last section: the
# linker's own script, with .reloc moved before .rsrc
# (cmake/installer-ld-script.cmake). -s keeps the runtime's .debug_* sections
# from following .rsrc.
# The installer starts at its own entry (platform/win32_startup.cpp), without
# the C runtime's start-up; msvcrt.dll still serves the string functions and
# libgcc the stack probe.
# No link time stamp in the PE header: the same sources give the same bytes,
# so anyone can rebuild an installer and compare it.
set(INSTALLER_LD_SCRIPT ${CMAKE_BINARY_DIR}/installer.ld)
execute_process(COMMAND ${CMAKE_LINKER} --verbose OUTPUT_VARIABLE LINKER_VERBOSE
  COMMAND_ERROR_IS_FATAL ANY)
include(${CMAKE_SOURCE_DIR}/cmake/installer-ld-script.cmake)
WriteInstallerLinkerScript("${LINKER_VERBOSE}" ${INSTALLER_LD_SCRIPT})
set(INSTALLER_LDFLAGS -s -nostartfiles -nostdlib -Wl,-e,_WinMainCRTStartup
    -Wl,-T,${INSTALLER_LD_SCRIPT}
    -Wl,--gc-sections,--dynamicbase,--nxcompat,--enable-reloc-section,--no-insert-timestamp)
set(INSTALLER_LIBS msvcrt kernel32 user32 gdi32 gcc)

# The decoder's files get flags of their own on top: they are where an
# installation spends its time.
set(DECODER_CFLAGS -O2)

add_library(installer_core STATIC ${INSTALLER_CORE_SOURCES})
target_include_directories(installer_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(installer_core PRIVATE ${INSTALLER_CFLAGS})
set_source_files_properties(${DECODER_CORE_SOURCES} PROPERTIES COMPILE_OPTIONS "${DECODER_CFLAGS}")

add_executable(installer WIN32 platform/win32_startup.cpp app/main.cpp resources/installer.rc)
# The resource compiler's object depends on the files the script pulls in,
# which CMake does not scan for.
set_source_files_properties(resources/installer.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/resources/installer.manifest;${CMAKE_SOURCE_DIR}/resources/installer.ico;${CMAKE_SOURCE_DIR}/resources/lastres.bin")
target_compile_options(installer PRIVATE ${INSTALLER_CFLAGS})
target_link_libraries(installer PRIVATE installer_core ${INSTALLER_LIBS})
target_link_options(installer PRIVATE ${INSTALLER_LDFLAGS})
set_target_properties(installer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(LAYOUT_CHECK)
  add_custom_command(TARGET installer POST_BUILD
    COMMAND ${LAYOUT_CHECK} $<TARGET_FILE:installer>
    COMMENT "Checking that the package can be written over LASTRES")
endif()

add_subdirectory(tools/saverpack)
include(${CMAKE_SOURCE_DIR}/bench/windows.cmake)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/windows.cmake)
  include(${CMAKE_SOURCE_DIR}/tests/e2e/windows.cmake)
endif()

# The sample saver that the demo and the end-to-end tests install.
add_subdirectory(examples/aquarium)
