# Unit tests of the data generators (tools/generators.cmake).
foreach(t IN ITEMS test_generate_surfaces test_generate_filters)
  add_executable(${t} ${CMAKE_CURRENT_LIST_DIR}/${t}.cpp)
  target_link_libraries(${t} PRIVATE generators GTest::gtest_main)
  target_compile_options(${t} PRIVATE ${TI_WARNINGS})
  gtest_discover_tests(${t} DISCOVERY_TIMEOUT 60)
endforeach()
