# The core library: every computation of the system, which the two
# experiment programs, the other commands, the tests, the benchmarks and the
# Python module all call. Its public headers are those of these folders,
# each saying what its functions take, return, own and how they fail:
#   common/     the model as the two programs describe it: the eight classes
#               (class.h), matrix helpers, statistics, the image grid and
#               its PGM files, the filter bank file, matrix stacks, training
#               sets and photometric normals, the model's parameters, the
#               illumination space and distances, response vectors
#   classify/   the database file and classification
#   direction/  light-direction estimation and its measures
#   kernels/    the hot loops: correlation, distance scans, masks' counted
#               positions (fast and plain versions side by side)
#   manifests/  experiments on one's own data: manifests, the light space
#               option, per-image classification and light estimation
#   banks/      the project's filter banks by name
#   matrix/     the matrix library's header, owners of its objects and the
#               texts of its errors
#   threads/    work spread over threads
#   experiment/ the fixed experiment of the two programs
# io/ (files, images, command lines) and synthesis/ (the image generator)
# are libraries of their own that need no matrix library.
set(TI_CORE_INCLUDES common classify direction kernels manifests banks matrix threads experiment)
list(TRANSFORM TI_CORE_INCLUDES PREPEND "${PROJECT_SOURCE_DIR}/")

# The sources of cmake/sources.cmake; those for AVX2 and AVX-512F compiled
# for them (the kernel path is chosen at run time: kernels/kernel_path.h).
ti_sources(TI_CORE_FILES TI_CORE_SOURCES)
ti_sources(avx2_files TI_AVX2_SOURCES)
ti_sources(avx512f_files TI_AVX512F_SOURCES)
set_source_files_properties(${avx2_files} PROPERTIES COMPILE_OPTIONS "-mavx2")
set_source_files_properties(${avx512f_files} PROPERTIES COMPILE_OPTIONS "-mavx512f")

# The choice of the kernel path (kernels/kernel_path.h), which the core's
# kernels and the programs' start-up both ask.
ti_sources(kernel_path_files TI_KERNEL_PATH_SOURCES)
add_library(kernel_path STATIC ${kernel_path_files})
target_include_directories(kernel_path PUBLIC ${PROJECT_SOURCE_DIR}/kernels)
target_link_libraries(kernel_path PUBLIC io)  # cli.h: the exit statuses
target_compile_options(kernel_path PRIVATE ${TI_WARNINGS})

# The project's filter banks (kernels applied by correlation): recipes and
# their file text, with no matrix library (generate_filters uses them).
ti_sources(filter_bank_files TI_FILTER_BANK_SOURCES)
add_library(filter_banks STATIC ${filter_bank_files})
target_include_directories(filter_banks PUBLIC ${PROJECT_SOURCE_DIR}/banks)
target_link_libraries(filter_banks PUBLIC io synthesis)  # synthesis: numeric.h
target_compile_options(filter_banks PRIVATE ${TI_WARNINGS})

# ti_core(NAME PLAIN): the core library; PLAIN selects the plain definitions
# of the hot functions (the same results, bit for bit).
find_package(Threads REQUIRED)
function(ti_core name plain)
  add_library(${name} STATIC ${TI_CORE_FILES})
  target_include_directories(${name} PUBLIC ${TI_CORE_INCLUDES} ${MESCHACH_INCLUDE_DIR})
  target_link_libraries(${name} PUBLIC io kernel_path filter_banks ${MESCHACH_LIBRARY} m ${CMAKE_DL_LIBS}
                                       Threads::Threads)
  target_compile_options(${name} PRIVATE ${TI_WARNINGS})
  if(plain)
    target_compile_definitions(${name} PUBLIC TI_PLAIN_KERNELS)
  endif()
endfunction()

# TI_PLAIN_KERNELS=ON builds every program with the plain definitions of the
# hot functions instead of the fast versions. With the tests or the
# benchmarks, a plain copy (core_plain, and NAME_plain of the programs that
# compare) is built as well, so both can be compared in one build.
ti_core(core "${TI_PLAIN_KERNELS}")
if(TI_BUILD_PLAIN_COPIES)
  ti_core(core_plain ON)
endif()

# The start-up of every program: the matrix library's errors, data errors and
# exit statuses (program.h). Not part of the core: the Python module handles
# the library's errors its own way. (Its texts of the library's errors are
# the core's, matrix/library_errors: every program links the core after it.)
add_library(startup STATIC startup/program.cpp)
target_include_directories(startup PUBLIC ${PROJECT_SOURCE_DIR}/startup
                                          ${PROJECT_SOURCE_DIR}/matrix ${MESCHACH_INCLUDE_DIR})
target_link_libraries(startup PUBLIC io kernel_path ${MESCHACH_LIBRARY} ${CMAKE_DL_LIBS})
target_compile_options(startup PRIVATE ${TI_WARNINGS})
