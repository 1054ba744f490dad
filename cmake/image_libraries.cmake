# The image formats' libraries (io/image.h): libpng, libtiff, libjpeg,
# OpenEXR, LibRaw (its thread-safe build, libraw_r: images are read by
# several threads at once) and stb_image's header, compiled into image.cpp.
# Found here for the main build (io/CMakeLists.txt) and the fuzz harnesses'
# build (fuzz/CMakeLists.txt) alike.
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(JPEG REQUIRED)
find_package(OpenEXR CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET libraw_r)
find_path(STB_INCLUDE_DIR stb/stb_image.h REQUIRED)
