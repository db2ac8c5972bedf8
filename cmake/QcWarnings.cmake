# qc_warnings(target): the project's warning set, kept clean.
function(qc_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# qc_library(name SOURCES...): a subsystem library with its public include folder.
function(qc_library name)
  add_library(${name} ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
                                     PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  qc_warnings(${name})
endfunction()

# qc_test(prefix name SOURCES... LIBS ...): a GoogleTest executable whose CTest
# names begin with "<prefix>." so that ctest -R '^<prefix>' runs one subsystem.
function(qc_test prefix name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  qc_warnings(${name})
  gtest_discover_tests(${name} TEST_PREFIX "${prefix}." DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
