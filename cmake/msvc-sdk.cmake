# What the MSVC half of the SDK needs: clang in MSVC mode (decorated names) and llvm-dlltool
# (import libraries in Microsoft's format).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(CLANG_MSVC clang-19 REQUIRED)
find_program(LLVM_NM llvm-nm-19 REQUIRED)
find_program(LLVM_DLLTOOL llvm-dlltool-19 REQUIRED)
find_program(LLVM_READOBJ llvm-readobj-19 REQUIRED)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(dlltool_machine i386)
else()
  set(dlltool_machine i386:x86-64)
endif()

# <name>.lib beside lib<name>.dll.a, made from the built DLL's own export table.
function(add_msvc_import_library target)
  set(lib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${target}.lib)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/import_library.py ${LLVM_READOBJ}
      ${LLVM_DLLTOOL} ${dlltool_machine} $<TARGET_FILE:${target}> ${lib}
    VERBATIM)
  install(FILES ${lib} DESTINATION lib)
endfunction()
