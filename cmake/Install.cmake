# Installed layout: the library, its header, a CMake package, a pkg-config file and the host
# example.
include(CMakePackageConfigHelpers)

install(TARGETS ORVSparseSolverDLL3 EXPORT ORVSparseSolverTargets
        LIBRARY DESTINATION lib
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The library's dependencies come from the system's folders; the run path is the programs'.
set_target_properties(ORVSparseSolverDLL3 PROPERTIES INSTALL_RPATH "")
install(FILES include/ORVSparseSolver/exports.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ORVSparseSolver)
install(FILES examples/host_example.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
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
