# cmake --install: the three programs, the runtime library (its static
# libraries behind one target, Volsten::volsten), its headers, a CMake
# package for find_package(Volsten), and the manual pages.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VOLSTEN_RUNTIME_LIBRARIES volsten_sys volsten_base volsten_net volsten_net_command
    volsten_net_pipe volsten_net_tcp volsten_net_dispatch volsten_config)
add_library(volsten_runtime INTERFACE)
target_link_libraries(volsten_runtime INTERFACE ${VOLSTEN_RUNTIME_LIBRARIES})
set_target_properties(volsten_runtime PROPERTIES EXPORT_NAME volsten)

install(TARGETS regservice volsten volsten-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS volsten_runtime volsten_warnings ${VOLSTEN_RUNTIME_LIBRARIES}
        EXPORT VolstenTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The headers keep their places, so that their own includes resolve.
foreach(dir sys base net config)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/volsten
          FILES_MATCHING PATTERN "*.h" PATTERN "win32" EXCLUDE PATTERN "posix" EXCLUDE)
endforeach()

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Volsten)
install(EXPORT VolstenTargets NAMESPACE Volsten:: DESTINATION ${package_dir})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VolstenConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/VolstenConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VolstenConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VolstenConfig.cmake ${CMAKE_BINARY_DIR}/VolstenConfigVersion.cmake
        DESTINATION ${package_dir})

install(FILES ${CMAKE_SOURCE_DIR}/man/regservice.1 ${CMAKE_SOURCE_DIR}/man/volsten.1
              ${CMAKE_SOURCE_DIR}/man/volsten-server.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
