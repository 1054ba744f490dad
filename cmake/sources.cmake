# The source files of the project's libraries, named from the project's root.
# The main build (io/CMakeLists.txt, synthesis/CMakeLists.txt,
# cmake/core.cmake) and the fuzz harnesses' build (fuzz/CMakeLists.txt)
# compile these same lists, so that a file added to a library is in both.

get_filename_component(TI_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# io: files, images, command lines (no matrix library).
set(TI_IO_SOURCES
  io/atomic_output.cpp
  io/cli.cpp
  io/csv.cpp
  io/data_error.cpp
  io/image.cpp
  io/number.cpp
  io/text_line.cpp
)

# synthesis: the image generator (no matrix library).
set(TI_SYNTHESIS_SOURCES
  synthesis/data_set.cpp
  synthesis/fft.cpp
  synthesis/height_field.cpp
  synthesis/pgm_write.cpp
  synthesis/render.cpp
  synthesis/rng.cpp
  synthesis/spectral.cpp
  synthesis/surface_classes.cpp
)

# The choice of the kernel path, and the project's filter banks.
set(TI_KERNEL_PATH_SOURCES kernels/kernel_path.cpp)
set(TI_FILTER_BANK_SOURCES banks/filter_bank.cpp banks/filter_kernels.cpp)

# The core library: every computation of the system (cmake/core.cmake says
# what each folder holds).
set(TI_CORE_SOURCES
  common/auxillary.cpp
  common/class_surface.cpp
  common/filters.cpp
  common/matrix_multiple.cpp
  common/parameters.cpp
  common/response.cpp
  common/statistics.cpp
  common/surface.cpp
  common/training_set.cpp
  classify/classification_test.cpp
  classify/read_write_database.cpp
  direction/illumination.cpp
  direction/ill_dir_test.cpp
  kernels/correlation.cpp
  kernels/correlation_avx2.cpp
  kernels/distance.cpp
  kernels/distance_avx2.cpp
  kernels/mask.cpp
  kernels/wide_avx512.cpp
  kernels/wide_emulated.cpp
  manifests/image_classification.cpp
  manifests/light_estimation.cpp
  manifests/light_space.cpp
  manifests/manifest.cpp
  banks/named_bank.cpp
  matrix/library_errors.cpp
  threads/parallel.cpp
)

# The core's sources compiled for an instruction set beyond the baseline:
# the AVX2 kernels (without FMA), chosen at run time only where the
# processor has it, and the 512-bit kernels' one source
# (kernels/wide_kernels.inc) twice, for AVX-512F and, emulated with pairs of
# 256-bit vectors, for AVX2 (kernels/wide.h, kernels/kernel_path.h).
set(TI_AVX2_SOURCES kernels/correlation_avx2.cpp kernels/distance_avx2.cpp kernels/wide_emulated.cpp)
set(TI_AVX512F_SOURCES kernels/wide_avx512.cpp)

# ti_sources(OUT LIST...): the lists' files as absolute paths.
function(ti_sources out)
  set(files)
  foreach(list ${ARGN})
    list(APPEND files ${${list}})
  endforeach()
  list(TRANSFORM files PREPEND "${TI_SOURCE_ROOT}/")
  set(${out} ${files} PARENT_SCOPE)
endfunction()
