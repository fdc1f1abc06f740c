# The C++ interface, include/sorvel.hpp.

# The header alone under the strictest warnings, as C++17 and as C++20:
# compiled with the build, never run.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  foreach(std 17 20)
    add_library(sorvel_cxx_header_check_${std} OBJECT cxx_header_check.cpp)
    target_include_directories(sorvel_cxx_header_check_${std}
                               PRIVATE ${PROJECT_SOURCE_DIR}/include)
    target_compile_options(
      sorvel_cxx_header_check_${std}
      PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Werror)
    set_target_properties(
      sorvel_cxx_header_check_${std}
      PROPERTIES CXX_STANDARD ${std} CXX_STANDARD_REQUIRED ON
                 CXX_EXTENSIONS OFF)
  endforeach()
endif()

add_executable(sorvel_cxx_tests cxx_test.cpp)
target_link_libraries(sorvel_cxx_tests PRIVATE sorvel_test_support GTest::gtest
                                               GTest::gtest_main)
gtest_discover_tests(sorvel_cxx_tests TEST_PREFIX "cxx." DISCOVERY_TIMEOUT 60)

# The same tests with chunks handed to the C functions five bytes at a time,
# as a chunk above 4 GiB is.
add_executable(sorvel_cxx_piece_tests cxx_test.cpp)
target_compile_definitions(sorvel_cxx_piece_tests
                           PRIVATE SORVEL_CXX_MAX_PIECE=5u)
target_link_libraries(sorvel_cxx_piece_tests
                      PRIVATE sorvel_test_support GTest::gtest GTest::gtest_main)
gtest_discover_tests(sorvel_cxx_piece_tests TEST_PREFIX "cxx.pieces."
                     DISCOVERY_TIMEOUT 60)

# Tokenizing through the C++ interface calls no operator new.
add_executable(sorvel_cxx_alloc_test cxx_alloc_test.cpp)
target_link_libraries(sorvel_cxx_alloc_test PRIVATE sorvel::sorvel GTest::gtest
                                                    GTest::gtest_main)
target_compile_features(sorvel_cxx_alloc_test PRIVATE cxx_std_17)
gtest_discover_tests(sorvel_cxx_alloc_test TEST_PREFIX "cxx."
                     DISCOVERY_TIMEOUT 60)
