# The libraries tolvane-pack links on Windows, all static, under the names the
# Linux build gives them: libdeflate and LibLZMA::LibLZMA, built here from
# Debian's source tarballs, checked by hash.
include(FetchContent)
if(POLICY CMP0135)
  cmake_policy(SET CMP0135 NEW)   # extracted files dated now, so a new version rebuilds
endif()

set(TOLVANE_DOWNLOADS "" CACHE PATH
  "Folder keeping the Windows libraries' source tarballs: used when there with the right hash, else downloaded into it (empty: inside the build folder)")
set(download_dir "")
if(TOLVANE_DOWNLOADS)
  set(download_dir DOWNLOAD_DIR ${TOLVANE_DOWNLOADS})
endif()

FetchContent_Declare(libdeflate
  URL https://deb.debian.org/debian/pool/main/libd/libdeflate/libdeflate_1.14.orig.tar.gz
  URL_HASH SHA256=89e7df898c37c3427b0f39aadcf733731321a278771d20fc553f92da8d4808ac
  ${download_dir})
FetchContent_Declare(xz
  URL https://deb.debian.org/debian/pool/main/x/xz-utils/xz-utils_5.4.1.orig.tar.xz
  URL_HASH SHA256=5d9827aa1875b21c288f78864bb26d2650b436ea8d2cad364e4921eb6266a5a5
  ${download_dir})
foreach(name libdeflate xz)
  FetchContent_GetProperties(${name})
  if(NOT ${name}_POPULATED)
    FetchContent_Populate(${name})
  endif()
endforeach()

# Their code builds with its own warnings: ours, and -Werror, stay off it.
get_directory_property(tolvane_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")

# libdeflate 1.14 builds with a Makefile only: its library is every C file of
# lib/ and of lib/x86/ (the run-time CPU checks), in C99.
file(GLOB deflate_sources ${libdeflate_SOURCE_DIR}/lib/*.c ${libdeflate_SOURCE_DIR}/lib/x86/*.c)
add_library(libdeflate STATIC ${deflate_sources})
target_include_directories(libdeflate PUBLIC ${libdeflate_SOURCE_DIR})
set_target_properties(libdeflate PROPERTIES OUTPUT_NAME deflate C_STANDARD 99 C_EXTENSIONS OFF)

# xz's own build, for liblzma alone (its programs and tests are left out).
# A static liblzma asks its users for LZMA_API_STATIC itself, but gives them
# its headers only once installed.
set(BUILD_SHARED_LIBS OFF)
set(BUILD_TESTING OFF)
add_subdirectory(${xz_SOURCE_DIR} ${xz_BINARY_DIR} EXCLUDE_FROM_ALL)
target_include_directories(liblzma INTERFACE $<BUILD_INTERFACE:${xz_SOURCE_DIR}/src/liblzma/api>)
add_library(LibLZMA::LibLZMA ALIAS liblzma)

set_directory_properties(PROPERTIES COMPILE_OPTIONS "${tolvane_options}")

