# cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=symbol -P embed.cmake
# Writes the whole file followed by one zero byte as a byte array, and its length.
if(EXISTS "${INPUT}")
  file(READ "${INPUT}" hex HEX)
else()
  set(hex "")
endif()
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2 + 1")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" body "${body}")
file(WRITE "${OUTPUT}"
"// Generated from ${INPUT}; do not edit.\n#include <cstdint>\n"
"extern const uint8_t ${NAME}[${size}] = {\n${body}0x00};\n"
"extern const uint32_t ${NAME}Size = ${size};\n")
