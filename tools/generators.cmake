# Data generators: synthetic photometric texture images and filter banks.
# They need no matrix library; the testable logic lives in the `generators`
# library so the unit tests can call it directly.

add_library(generators STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fft.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_bank.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filter_kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/filters_cli.cpp
  ${CMAKE_CURRENT_LIST_DIR}/height_field.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pgm_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rng.cpp
  ${CMAKE_CURRENT_LIST_DIR}/spectral.cpp
  ${CMAKE_CURRENT_LIST_DIR}/surface_classes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/surface_database.cpp
  ${CMAKE_CURRENT_LIST_DIR}/surfaces_cli.cpp
)
target_include_directories(generators PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(generators PUBLIC io)
target_compile_options(generators PRIVATE ${TI_WARNINGS})

add_executable(generate_surfaces ${CMAKE_CURRENT_LIST_DIR}/generate_surfaces.cpp)
target_link_libraries(generate_surfaces PRIVATE generators)
target_compile_options(generate_surfaces PRIVATE ${TI_WARNINGS})

add_executable(generate_filters ${CMAKE_CURRENT_LIST_DIR}/generate_filters.cpp)
target_link_libraries(generate_filters PRIVATE generators)
target_compile_options(generate_filters PRIVATE ${TI_WARNINGS})
