# libjpeg-turbo, the program's JPEG engine, and the lossless transforms of its transupp.c.
# The cross build compiles Debian's source package of it (fetched by scripts/setup.sh into build/, never
# committed) once per build folder with the project's own toolchain and nasm, SIMD on, as a static
# library, with unwind tables (-fexceptions) so that the program's error handler can throw through it
# (x86-64 Windows GCC emits them for every function anyway). The MSYS2 build takes the installed mingw-w64-x86_64-libjpeg-turbo instead; that package
# does not install transupp.c, which both builds compile from the source folder below.
set(LUMIVEX_JPEG_SOURCE "${PROJECT_SOURCE_DIR}/build/libjpeg-turbo/source" CACHE PATH
  "libjpeg-turbo's source tree (Debian's source package, unpacked by scripts/setup.sh)")
option(LUMIVEX_JPEG_INSTALLED "Link the installed libjpeg-turbo (MSYS2) instead of building its source" OFF)

if(NOT EXISTS ${LUMIVEX_JPEG_SOURCE}/transupp.c)
  message(FATAL_ERROR "No libjpeg-turbo source at ${LUMIVEX_JPEG_SOURCE}: run scripts/test.sh once, or "
    "'bash -c \"source scripts/setup.sh && lumivex_install_missing\"' as root, which fetch it with apt-get source; "
    "on MSYS2 unpack the source of the installed version there or set LUMIVEX_JPEG_SOURCE")
endif()

if(LUMIVEX_JPEG_INSTALLED)
  find_package(libjpeg-turbo CONFIG REQUIRED)
  add_library(lumivex_libjpeg INTERFACE)
  target_link_libraries(lumivex_libjpeg INTERFACE libjpeg-turbo::jpeg-static)
  # transupp.c reads one setting of the library's private configuration header: how to inline.
  set(jpeg_private_include ${CMAKE_BINARY_DIR}/libjpeg-turbo-config)
  file(WRITE ${jpeg_private_include}/jconfigint.h "#define INLINE inline\n#define FALLTHROUGH\n")
else()
  include(ExternalProject)
  # Used where it is built: libjpeg.a and the generated configuration headers in the build folder,
  # the other headers in the source folder.
  set(jpeg_build ${CMAKE_BINARY_DIR}/libjpeg-turbo)
  set(jpeg_library ${jpeg_build}/libjpeg.a)
  ExternalProject_Add(libjpeg_turbo_build
    SOURCE_DIR ${LUMIVEX_JPEG_SOURCE}
    BINARY_DIR ${jpeg_build}
    # Nothing is installed; the library names its install folder in its package files all the same.
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_INSTALL_PREFIX=${jpeg_build}/unused -DCMAKE_C_FLAGS=-fexceptions -DENABLE_SHARED=OFF
      -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static -j 2
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${jpeg_library}
    USES_TERMINAL_BUILD TRUE)
  add_library(lumivex_libjpeg STATIC IMPORTED GLOBAL)
  set_target_properties(lumivex_libjpeg PROPERTIES IMPORTED_LOCATION ${jpeg_library})
  file(MAKE_DIRECTORY ${jpeg_build})
  target_include_directories(lumivex_libjpeg INTERFACE ${jpeg_build} ${LUMIVEX_JPEG_SOURCE})
  add_dependencies(lumivex_libjpeg libjpeg_turbo_build)
  set(jpeg_private_include ${jpeg_build})
endif()

# The lossless transforms, compiled from the same source against the library's headers.
add_library(lumivex_jpeg_transforms STATIC ${LUMIVEX_JPEG_SOURCE}/transupp.c)
target_link_libraries(lumivex_jpeg_transforms PUBLIC lumivex_libjpeg)
# The program's error handler throws a C++ exception through the library's C code: unwind tables.
target_compile_options(lumivex_jpeg_transforms PRIVATE -fexceptions)
target_include_directories(lumivex_jpeg_transforms PRIVATE ${jpeg_private_include} PUBLIC ${LUMIVEX_JPEG_SOURCE})

# The library's memory manager is the program's own (src/imaging/libjpeg/memory.cpp): an object on the
# link line of every program that links the library, so that the library's own is never taken from it.
add_library(lumivex_jpeg_memory OBJECT ${PROJECT_SOURCE_DIR}/src/imaging/libjpeg/memory.cpp)
target_link_libraries(lumivex_jpeg_memory PRIVATE lumivex_libjpeg)
target_include_directories(lumivex_jpeg_memory PRIVATE ${jpeg_private_include} ${LUMIVEX_JPEG_SOURCE})
target_compile_options(lumivex_jpeg_memory PRIVATE ${LUMIVEX_WARNINGS})
target_link_libraries(lumivex_jpeg_transforms INTERFACE $<TARGET_OBJECTS:lumivex_jpeg_memory>)
