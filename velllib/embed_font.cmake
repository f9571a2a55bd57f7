# Writes FONT's bytes into OUTPUT as the C++ array vell::embeddedFont.
# Run by the build: cmake -DFONT=... -DOUTPUT=... -P embed_font.cmake
file(READ "${FONT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
# 24 bytes a line keeps the generated file easy on editors and compilers.
string(REGEX REPLACE "((0x..,){24})" "\\1\n" body "${body}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${FONT}; do not edit.\n"
  "#include <cstddef>\n\n"
  "namespace vell {\n\n"
  "extern const unsigned char embeddedFont[];\n"
  "extern const std::size_t embeddedFontSize;\n\n"
  "const unsigned char embeddedFont[] = {\n${body}\n};\n"
  "const std::size_t embeddedFontSize = ${bytes};\n\n"
  "}  // namespace vell\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
