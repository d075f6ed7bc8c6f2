# vtq_add_library(name SOURCES ... [LINK ...]): a shared library of the product with a soname.
function(vtq_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;PRIVATE_LINK" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/vtq>)
  target_compile_definitions(${name} PRIVATE VTQ_BUILDING)
  if(ARG_LINK)
    target_link_libraries(${name} PUBLIC ${ARG_LINK})
  endif()
  if(ARG_PRIVATE_LINK)
    target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_LINK})
  endif()
endfunction()

# vtq_add_test(name SOURCES ... [LINK ...] [LABELS ...]): one GoogleTest suite, registered with CTest.
function(vtq_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vtq_testing ${ARG_LINK})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VTQ_SOURCE_DIR=${PROJECT_SOURCE_DIR}" LABELS "${ARG_LABELS}")
endfunction()

# vtq_add_benchmark(name SOURCES ... [LINK ...])
function(vtq_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${ARG_LINK})
  target_compile_definitions(${name} PRIVATE VTQ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endfunction()
