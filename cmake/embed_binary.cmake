# Turns a binary file into a C++ source holding its bytes, so that the Linux
# build carries the firmware image inside the program as the Windows build
# carries it in its resources.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_binary.cmake
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," content "${content}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" content "${content}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include <cstdint>\n"
  "extern const std::uint8_t ${SYMBOL}[];\n"
  "extern const std::uint32_t ${SYMBOL}_size;\n"
  "alignas(16) const std::uint8_t ${SYMBOL}[] = {\n${content}};\n"
  "const std::uint32_t ${SYMBOL}_size = ${size};\n")
