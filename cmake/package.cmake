# The SDK's package configuration: cmake --install also lays out lib/cmake/Kovaltix, so that hosts
# built with CMake find both libraries with find_package(Kovaltix).
configure_file(${CMAKE_CURRENT_LIST_DIR}/KovaltixConfigVersion.cmake.in
  ${CMAKE_BINARY_DIR}/KovaltixConfigVersion.cmake @ONLY)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/KovaltixConfig.cmake
  ${CMAKE_BINARY_DIR}/KovaltixConfigVersion.cmake DESTINATION lib/cmake/Kovaltix)
