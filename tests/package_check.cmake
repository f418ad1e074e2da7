# Builds the Debian package into a folder of its own and checks what it holds:
# the files, and the control fields that installing it relies on.
# Run as: cmake -DBUILD=<build folder> -DOUT=<scratch folder> -DVERSION=<x.y.z> -P package_check.cmake

cmake_policy(VERSION 3.22)
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB -B ${OUT} --config ${BUILD}/CPackConfig.cmake
  RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
file(GLOB debs ${OUT}/*.deb)
list(LENGTH debs count)
if(failed OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no package:\n${log}")
endif()

set(failures "")
macro(field name expected)
  execute_process(COMMAND dpkg-deb -f ${debs} ${name} OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT value MATCHES "${expected}")
    list(APPEND failures "${name} is \"${value}\", expected to match \"${expected}\"")
  endif()
endmacro()
field(Package "^kelvane$")
field(Version "^${VERSION}$")
field(Section "^net$")
field(Maintainer "^.+ <.+@.+>$")
field(Homepage "^$")
# Worked out from the binary, plus the windowing plugins Qt loads at run time.
field(Depends "libqt6widgets6 [(]>= [0-9.]+[)]")
field(Depends "libqt6network6 [(]>= [0-9.]+[)]")
field(Depends "libc6 [(]>= [0-9.]+[)]")
field(Depends "qt6-qpa-plugins")
field(Description "^exercise TCP and UDP peers by hand\n .+")

execute_process(COMMAND dpkg-deb --fsys-tarfile ${debs} COMMAND tar -t OUTPUT_VARIABLE listing)
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" listing "${listing}")
list(FILTER listing EXCLUDE REGEX "/$")
list(SORT listing)
set(expected
  ./usr/bin/kelvane
  ./usr/share/applications/kelvane.desktop
  ./usr/share/doc/kelvane/changelog.gz
  ./usr/share/doc/kelvane/copyright
  ./usr/share/icons/hicolor/16x16/apps/kelvane.png
  ./usr/share/icons/hicolor/32x32/apps/kelvane.png
  ./usr/share/icons/hicolor/scalable/apps/kelvane.svg
  ./usr/share/man/man1/kelvane.1.gz
  ./usr/share/metainfo/org.kelvane.Kelvane.metainfo.xml)
if(NOT listing STREQUAL expected)
  list(JOIN listing "\n  " got)
  list(APPEND failures "the package holds:\n  ${got}")
endif()

if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "${debs}: fields and files as expected")
