# GoogleTest, built from the distribution's sources with the cross compiler.
set(KX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT TARGET gtest)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${KX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

set(KX_WINE_RUN ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)

# kx_add_wine_test(NAME <name> COMMAND <target> [args...] [TIMEOUT <seconds>])
# Runs a Windows executable of this build under Wine, in the build's private
# prefix, killed after TIMEOUT seconds so that a hang fails the test instead of
# stalling the run.
function(kx_add_wine_test)
  cmake_parse_arguments(KX "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT KX_TIMEOUT)
    set(KX_TIMEOUT 300)
  endif()
  list(POP_FRONT KX_COMMAND target)
  add_test(NAME ${KX_NAME}
    COMMAND ${KX_WINE_RUN} --timeout ${KX_TIMEOUT} $<TARGET_FILE:${target}> ${KX_COMMAND}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${KX_NAME} PROPERTIES
    TIMEOUT ${KX_TIMEOUT}
    ENVIRONMENT "KX_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# kx_add_gtest(<target> [TIMEOUT <seconds>]): one ctest entry per test binary;
# GoogleTest cases inside are grouped so that Wine starts once per binary.
function(kx_add_gtest target)
  cmake_parse_arguments(KX "" "TIMEOUT" "" ${ARGN})
  if(NOT KX_TIMEOUT)
    set(KX_TIMEOUT 300)
  endif()
  target_link_libraries(${target} PRIVATE gtest gtest_main)
  kx_add_wine_test(NAME ${target} COMMAND ${target} --gtest_brief=1 TIMEOUT ${KX_TIMEOUT})
endfunction()
