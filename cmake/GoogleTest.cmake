# GoogleTest from the sources Debian's googletest package ships, built with
# the same compiler as the tests, so that the MinGW cross build gets one too.
set(VORREL_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
if(NOT EXISTS "${VORREL_GOOGLETEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found at ${VORREL_GOOGLETEST_SOURCE}; install the googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${VORREL_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
add_library(vorrel_gtest_main INTERFACE)
target_link_libraries(vorrel_gtest_main INTERFACE GTest::gtest_main)
