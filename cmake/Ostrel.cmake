# ostrel_library(name DEPS ...): a static library of every .cpp under src/<name>. Code
# includes "core/Logger.h", "engine/Graph.h": the library's include root is a folder of the
# build holding one link, <name> -> src/<name>, and it reaches the roots of the libraries it
# links, so a library sees only itself and what stands below it. An include that runs up or
# sideways does not compile.
function(ostrel_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    # Nothing to compile yet: a header-only stand-in keeps the dependents linking.
    add_library(ostrel_${name} INTERFACE)
    target_include_directories(ostrel_${name} INTERFACE ${root})
    target_link_libraries(ostrel_${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(ostrel_${name} STATIC ${sources} ${headers})
  target_include_directories(ostrel_${name} PUBLIC ${root})
  target_link_libraries(ostrel_${name} PUBLIC ${ARG_DEPS})
endfunction()

# ostrel_test_suite(name DEPS ...): one GoogleTest binary of every .cpp under tests/<name>.
function(ostrel_test_suite name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(OSTREL_TSAN)
    # Only the two-thread stress tests are worth a ThreadSanitizer build.
    list(FILTER sources INCLUDE REGEX "ThreadTest\\.cpp$")
  endif()
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE ${ARG_DEPS} ostrel_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  # The suite's shared helpers sit at its top; its tests in folders below, as the sources.
  target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name})
  target_compile_definitions(${name}_tests PRIVATE OSTREL_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/${name}/data")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
