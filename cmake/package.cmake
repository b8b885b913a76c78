# The SDK's package configuration: cmake --install also lays out lib/cmake/Kovaltix, so that hosts
# built with CMake find both libraries with find_package(Kovaltix).
configure_file(${CMAKE_CURRENT_LIST_DIR}/KovaltixConfigVersion.cmake.in
  ${CMAKE_BINARY_DIR}/KovaltixConfigVersion.cmake @ONLY)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/KovaltixConfig.cmake
  ${CMAKE_BINARY_DIR}/KovaltixConfigVersion.cmake DESTINATION lib/cmake/Kovaltix)

# What a host developer starts from: the samples (a host, a setup program, their CMake project and
# the entry point for MSVC-mode builds without Microsoft's runtime) and the compiler options that
# put Wine's Windows headers in place of the Windows SDK's for MSVC mode on Linux.
install(FILES ${CMAKE_SOURCE_DIR}/samples/host.cpp ${CMAKE_SOURCE_DIR}/samples/setup.c
  ${CMAKE_SOURCE_DIR}/samples/msvcrt-entry.c ${CMAKE_SOURCE_DIR}/samples/CMakeLists.txt
  DESTINATION share/kovaltix/samples)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/msvc-mode.rsp DESTINATION share/kovaltix)
