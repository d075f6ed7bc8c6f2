include(CMakePackageConfigHelpers)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vtq)
set(_vtq_libraries "")
foreach(_t vtq_support vtq_api_support vtq_utilities vtq_common vtq_provider_memory
    vtq_provider_clickhouse)
  if(TARGET ${_t})
    list(APPEND _vtq_libraries ${_t})
  endif()
endforeach()
install(TARGETS ${_vtq_libraries}
  EXPORT vtq_commonTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vtq)
  install(TARGETS vtq RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(EXPORT vtq_commonTargets NAMESPACE vtq:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vtq_common)

configure_package_config_file(cmake/vtq_commonConfig.cmake.in
  ${CMAKE_BINARY_DIR}/vtq_commonConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vtq_common)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vtq_commonConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vtq_commonConfig.cmake ${CMAKE_BINARY_DIR}/vtq_commonConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/vtq_common)

# The prefix is relative to the file's own place, so a moved installation still resolves.
file(RELATIVE_PATH VTQ_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VTQ_PC_TO_PREFIX "${VTQ_PC_TO_PREFIX}")
configure_file(cmake/vtq_common.pc.in ${CMAKE_BINARY_DIR}/vtq_common.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vtq_common.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
