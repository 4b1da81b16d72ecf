# Turns the stub executable into a C source file: cmake -DIN=... -DOUT=... -P embed_stub.cmake
if(IN AND EXISTS "${IN}")
  file(READ "${IN}" hex HEX)
else()
  set(hex "")
endif()
string(LENGTH "${hex}" digits)
math(EXPR length "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp"
  "/* Generated from the stub executable at build time. */\n"
  "extern const unsigned char TolvaneStubData[];\n"
  "extern const unsigned long TolvaneStubLength;\n"
  "const unsigned char TolvaneStubData[] = {\n${bytes}0};\n"
  "const unsigned long TolvaneStubLength = ${length};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
