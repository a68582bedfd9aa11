# cmake -DIN=build/compile_commands.json -DOUT=build/lint/compile_commands.json -P cmake/lint_commands.cmake
#
# clang-tidy analyses a file once for each of its compile commands: the library's
# sources twice (the library and its portable twin) and the viewer's three times
# (the viewer and two test programs). make lint keeps each file's first command,
# the one of the target that ships it, and analyses that.
cmake_minimum_required(VERSION 3.25)
file(READ "${IN}" commands)
string(JSON count LENGTH "${commands}")
set(kept "")
set(seen "")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON file GET "${commands}" ${i} file)
  if(NOT file IN_LIST seen)
    list(APPEND seen "${file}")
    string(JSON entry GET "${commands}" ${i})
    string(APPEND kept "${entry},\n")
  endif()
endforeach()
string(REGEX REPLACE ",\n$" "\n" kept "${kept}")
file(WRITE "${OUT}" "[\n${kept}]\n")
