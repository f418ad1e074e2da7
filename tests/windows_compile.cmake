# Compiles every file of one folder under src for Windows with MinGW-w64,
# syntax only, against the Qt headers installed here: a file that compiles
# on one system only fails. Skipped where the cross compiler is missing.
# Run as: cmake -DSRC=<src folder> -DFOLDER=<platform, net...> -DINCLUDES=<a;list> -P windows_compile.cmake

cmake_policy(VERSION 3.22)
find_program(MINGW_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
if(NOT MINGW_CXX)
  message("SKIPPED: no MinGW-w64 compiler here (Debian's g++-mingw-w64-x86-64-posix)")
  return()
endif()

set(flags -fsyntax-only -std=c++17)
foreach(dir ${INCLUDES})
  list(APPEND flags -I${dir})
endforeach()

file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/${FOLDER}/*.cpp ${SRC}/${FOLDER}/*.h)
set(failed "")
foreach(file ${files})
  execute_process(COMMAND ${MINGW_CXX} ${flags} ${SRC}/${file}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    # Qt's headers warn about their DLL imports; only the errors matter.
    string(REGEX MATCHALL "[^\n]*(error|Error)[^\n]*" errors "${output}")
    list(JOIN errors "\n    " text)
    message("${file}:\n    ${text}")
    list(APPEND failed ${file})
  endif()
endforeach()

list(LENGTH files count)
if(failed)
  list(LENGTH failed failures)
  message(FATAL_ERROR "${failures} of ${count} files in ${FOLDER} do not compile for Windows")
endif()
message(STATUS "${count} files in ${FOLDER} compile for Windows with ${MINGW_CXX}")
