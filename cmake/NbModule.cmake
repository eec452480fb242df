# nb_module(NAME DEPS...) builds the static library nb_NAME from every .cpp
# in the calling folder. Include paths are rooted at the project folder, so
# headers are included as "module/Header.h".
function(nb_module name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_srcs)
    add_library(nb_${name} STATIC ${_srcs})
  else()
    add_library(nb_${name} INTERFACE)
  endif()
  get_target_property(_type nb_${name} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(nb_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    if(ARGN)
      target_link_libraries(nb_${name} INTERFACE ${ARGN})
    endif()
  else()
    target_include_directories(nb_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(nb_${name} PRIVATE -Wall -Wextra)
    if(ARGN)
      target_link_libraries(nb_${name} PUBLIC ${ARGN})
    endif()
  endif()
endfunction()

# nb_test(NAME DEPS...) builds tests/NAME/*.cpp into test_NAME and registers
# every GoogleTest case with CTest.
function(nb_test name)
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT _srcs)
    return()
  endif()
  add_executable(test_${name} ${_srcs})
  target_compile_options(test_${name} PRIVATE -Wall -Wextra)
  target_link_libraries(test_${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE
    NB_SOURCE_DIR="${PROJECT_SOURCE_DIR}" NB_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0;SDL_AUDIODRIVER=dummy")
endfunction()
