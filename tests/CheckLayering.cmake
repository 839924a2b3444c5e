# Fails when a quoted include points against the layering of the libraries:
#   platform
#   format, audio, transform, psycho       (each uses platform only)
#   analysis (format, audio, transform, psycho)    coding (format)     never each other
#   library, lib, include/ostrel           (the public library, above analysis and coding)
#   cli                                    (what the programs share on their command lines)
#   encoder, decoder, tools                (the programs; never each other)
#   gst, web                               (the plugin, the WebAssembly package)
# The programs are the library's clients: encoder, decoder and cli reach the engine only through
# the public header ("ostrel/ostrel.h"), beside cli, platform and audio (sound files, source
# conversion and the sound device are their input and output, read and written beside the
# library); tools (measurement programs) may also use audio. The plugin and the WebAssembly
# package use the public header only. None of them includes format, coding, analysis, transform, psycho or library.
# Every layer but the plugin may also use platform; every layer its own folder. Product code includes with the folder
# ("coding/ArithEncoder.h", the public header as "ostrel/...") and never includes the tests',
# benchmarks' or fuzz targets' helpers. The tests, benchmarks and fuzz targets are not checked.
# Usage: cmake -DSOURCE_DIR=<project source folder> -P CheckLayering.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<project source folder> -P CheckLayering.cmake")
endif()

# The include prefixes each folder may use besides its own and platform's.
set(below_platform "")
set(below_format "")
set(below_audio "")
set(below_transform "")
set(below_psycho "")
set(below_analysis format audio transform psycho)
set(below_coding format)
set(library_uses analysis coding audio transform psycho format ostrel)
set(below_library ${library_uses})
set(below_lib ${library_uses})
set(below_include/ostrel "")  # the public header stands alone
set(program_uses ostrel cli audio)
set(below_cli ${program_uses})
foreach(program encoder decoder tagger tools)
  set(below_${program} ${program_uses})
endforeach()
set(below_gst ostrel)
set(below_web ostrel)
# How the folder's own headers are included.
set(prefix_include/ostrel ostrel)

set(checked 0)
set(violations "")
foreach(folder platform format audio transform psycho analysis coding library lib include/ostrel cli
               encoder decoder tagger tools gst web)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/${folder}")
    continue()
  endif()
  set(own ${folder})
  if(DEFINED prefix_${folder})
    set(own ${prefix_${folder}})
  endif()
  set(allowed ${own} platform ${below_${folder}})
  if(folder STREQUAL "gst" OR folder STREQUAL "web")
    set(allowed ${own} ${below_${folder}})  # the plugin and the package: the public header only
  endif()
  list(REMOVE_DUPLICATES allowed)
  string(REPLACE ";" ", " allowed_shown "${allowed}")
  file(GLOB_RECURSE sources LIST_DIRECTORIES false
       "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.hpp" "${SOURCE_DIR}/${folder}/*.c"
       "${SOURCE_DIR}/${folder}/*.cpp" "${SOURCE_DIR}/${folder}/*.cc" "${SOURCE_DIR}/${folder}/*.in")
  foreach(source ${sources})
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
      file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
      if(NOT included MATCHES "/")
        list(APPEND violations "${shown}: \"${included}\" names no folder")
        continue()
      endif()
      string(REGEX REPLACE "/.*" "" prefix "${included}")
      list(FIND allowed "${prefix}" index)
      if(index EQUAL -1)
        list(APPEND violations "${shown}: \"${included}\" (${folder} may include ${allowed_shown})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no sources found under ${SOURCE_DIR}")
endif()
if(violations)
  list(LENGTH violations count)
  string(REPLACE ";" "\n  " listed "${violations}")
  message(FATAL_ERROR "${count} include(s) against the layering:\n  ${listed}")
endif()
message(STATUS "layering: ${checked} files, every include in its place")
