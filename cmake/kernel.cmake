# Kernel-mode drivers with the same MinGW compilers: no C runtime, no C++ runtime (C++ sources
# are built without exceptions, RTTI or thread-safe statics), native subsystem, entry
# DriverEntry, imports from ntoskrnl and hal only (plus what IMPORTS names).
#   add_kernel_driver(<target> OUTPUT <file name without .sys> SOURCES ... [IMPORTS <targets>]
#                     [VERSION <a.b.c.d> DESCRIPTION <text>])
# VERSION gives the driver a system driver's version resource (Common/VersionInfo.rc2), so that
# SetupAPI can tell an installed copy's version from the package's: the version of its INF's
# DriverVer, which inf_driver_version(<inf> <variable>) reads.
# KERNEL_ARCH: the architecture's name in driver file names and INF decorations.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KERNEL_ENTRY DriverEntry)
  set(KERNEL_ARCH amd64)
else()
  set(KERNEL_ENTRY _DriverEntry@8)
  set(KERNEL_ARCH x86)
endif()

set(KERNEL_DDK_INCLUDE /usr/${MINGW_PREFIX}/include/ddk)

function(inf_driver_version inf variable)
  file(STRINGS ${inf} line REGEX "^DriverVer *=")
  if(NOT line MATCHES ",[ ]*([0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+)")
    message(FATAL_ERROR "${inf}: no DriverVer version")
  endif()
  set(${variable} ${CMAKE_MATCH_1} PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${inf})
endfunction()

function(add_kernel_driver target)
  cmake_parse_arguments(K "" "OUTPUT;VERSION;DESCRIPTION" "SOURCES;IMPORTS" ${ARGN})
  if(K_VERSION)
    string(REPLACE "." ", " numbers ${K_VERSION})
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${K_OUTPUT}.version.rc)
    file(CONFIGURE OUTPUT ${rc} CONTENT [[
#define VERSION_NUMBERS @numbers@
#define VERSION_TEXT "@K_VERSION@"
#define VERSION_FILE_TYPE VFT_DRV
#define VERSION_FILE_SUBTYPE VFT2_DRV_SYSTEM
#define VERSION_EXTENSION ".sys"
#define VERSION_FILE_NAME "@K_OUTPUT@"
#define VERSION_DESCRIPTION "@K_DESCRIPTION@"
#include "Common/VersionInfo.rc2"
]] @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
      ${CMAKE_SOURCE_DIR}/Common/VersionInfo.rc2)
    list(APPEND K_SOURCES ${rc})
  endif()
  add_library(${target} SHARED ${K_SOURCES})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".sys" OUTPUT_NAME ${K_OUTPUT}
    C_STANDARD 11)
  # The DDK's headers for the C sources; the shared C++ sources see the user-mode ones.
  target_include_directories(${target} SYSTEM PRIVATE
    $<$<COMPILE_LANGUAGE:C>:${KERNEL_DDK_INCLUDE}>)
  target_compile_options(${target} PRIVATE -fno-stack-protector
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>)
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles -Wl,--subsystem,native
    -Wl,--entry,${KERNEL_ENTRY} -Wl,--image-base,0x10000)
  # No user-mode library may slip in: the platform's defaults are dropped for these targets.
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
  target_link_libraries(${target} PRIVATE ${K_IMPORTS} ntoskrnl hal gcc)
endfunction()

# The platform's default user-mode libraries are dropped for every target of the directory that
# includes this file: only kernel drivers live there.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")
