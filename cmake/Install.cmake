# Installed layout: the library, its header, a CMake package and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS ORVSparseSolverDLL3 EXPORT ORVSparseSolverTargets
        LIBRARY DESTINATION lib
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/ORVSparseSolver/exports.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ORVSparseSolver)
install(EXPORT ORVSparseSolverTargets NAMESPACE ORVSparseSolver::
        DESTINATION lib/cmake/ORVSparseSolver)
set_target_properties(ORVSparseSolverDLL3 PROPERTIES EXPORT_NAME ORVSparseSolver)

configure_package_config_file(cmake/ORVSparseSolverConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ORVSparseSolverConfig.cmake
  INSTALL_DESTINATION lib/cmake/ORVSparseSolver)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ORVSparseSolverConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ORVSparseSolverConfig.cmake
              ${PROJECT_BINARY_DIR}/ORVSparseSolverConfigVersion.cmake
        DESTINATION lib/cmake/ORVSparseSolver)

configure_file(cmake/ORVSparseSolver.pc.in ${PROJECT_BINARY_DIR}/ORVSparseSolver.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ORVSparseSolver.pc DESTINATION lib/pkgconfig)
