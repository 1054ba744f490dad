# Unit tests of the data generators (synthesis/, tools/generate_*/); they need no
# matrix library, so GoogleTest's own main.
foreach(t IN LISTS TI_GENERATOR_TESTS)
  add_executable(${t} ${CMAKE_CURRENT_LIST_DIR}/${t}.cpp)
  target_link_libraries(${t} PRIVATE synthesis surfaces_command filters_command GTest::gtest_main)
  target_compile_options(${t} PRIVATE ${TI_WARNINGS})
  ti_discover_tests(${t} "")
endforeach()
