# Which stub tolvane-pack embeds; sets tolvane_stub_file (empty: none) and,
# when the stub is built here, the target tolvane_stub_build that makes it.
#  - TOLVANE_PACK_STUB, when set: that file, re-embedded whenever it changes;
#  - else, with the mingw-w64 cross compiler: the stub built from this tree
#    with the win32 toolchain as an external project in <build>/stub, so a
#    host build alone gives a complete tool, whatever else was built before;
#  - else none, and packages need --stub FILE.
set(TOLVANE_PACK_STUB "" CACHE FILEPATH "Stub executable to embed in tolvane-pack (empty: build it)")
find_program(TOLVANE_MINGW_CXX i686-w64-mingw32-g++)

set(tolvane_stub_file "")
if(TOLVANE_PACK_STUB)
  set(tolvane_stub_file "${TOLVANE_PACK_STUB}")
  message(STATUS "tolvane-pack embeds the stub ${tolvane_stub_file}")
elseif(TOLVANE_MINGW_CXX)
  include(ExternalProject)
  set(stub_dir ${CMAKE_BINARY_DIR}/stub)
  set(tolvane_stub_file ${stub_dir}/tolvane-sfx.exe)
  ExternalProject_Add(tolvane_stub_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${stub_dir}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${stub_dir} --target tolvane_stub
    BUILD_ALWAYS ON             # the stub's sources are this tree: let its own build decide
    BUILD_BYPRODUCTS ${tolvane_stub_file}
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
  message(STATUS "tolvane-pack embeds the stub built in ${stub_dir}")
else()
  message(STATUS "tolvane-pack: no i686-w64-mingw32-g++ and no TOLVANE_PACK_STUB; packages will need --stub")
endif()
