# The SDK for hosts built with CMake:
#   find_package(Kovaltix REQUIRED)
#   target_link_libraries(host PRIVATE Kovaltix::KOVALTIX Kovaltix::BRALIMOND)
# Each target carries its DLL (bin/), the include folder and the import library that the host's
# toolchain links: lib<name>.dll.a for MinGW, <name>.lib for MSVC-style ones (cl, clang-cl,
# clang for *-windows-msvc).
get_filename_component(_kovaltix_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(MSVC OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC")
  set(_kovaltix_import_prefix "")
  set(_kovaltix_import_suffix ".lib")
else()
  set(_kovaltix_import_prefix "lib")
  set(_kovaltix_import_suffix ".dll.a")
endif()

foreach(_kovaltix_name IN ITEMS KOVALTIX BRALIMOND)
  set(_kovaltix_dll "${_kovaltix_prefix}/bin/${_kovaltix_name}.dll")
  set(_kovaltix_implib
    "${_kovaltix_prefix}/lib/${_kovaltix_import_prefix}${_kovaltix_name}${_kovaltix_import_suffix}")
  foreach(_kovaltix_file IN ITEMS "${_kovaltix_dll}" "${_kovaltix_implib}"
      "${_kovaltix_prefix}/include/${_kovaltix_name}.h")
    if(NOT EXISTS "${_kovaltix_file}")
      set(Kovaltix_FOUND FALSE)
      set(Kovaltix_NOT_FOUND_MESSAGE "the SDK at ${_kovaltix_prefix} lacks ${_kovaltix_file}")
      return()
    endif()
  endforeach()
  if(NOT TARGET Kovaltix::${_kovaltix_name})
    add_library(Kovaltix::${_kovaltix_name} SHARED IMPORTED)
    set_target_properties(Kovaltix::${_kovaltix_name} PROPERTIES
      IMPORTED_LOCATION "${_kovaltix_dll}"
      IMPORTED_IMPLIB "${_kovaltix_implib}"
      INTERFACE_INCLUDE_DIRECTORIES "${_kovaltix_prefix}/include")
  endif()
endforeach()

unset(_kovaltix_prefix)
unset(_kovaltix_import_prefix)
unset(_kovaltix_import_suffix)
unset(_kovaltix_name)
unset(_kovaltix_dll)
unset(_kovaltix_implib)
unset(_kovaltix_file)
