# wizard_add_gtest(<name> SOURCES <files...> LIBS <targets...>)
# A GoogleTest executable registered with CTest (native builds only: the
# Windows build has no GoogleTest; its programs are tested end to end).
function(wizard_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "WIZARD_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
