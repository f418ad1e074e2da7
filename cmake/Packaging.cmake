# What is installed beside the program and its desktop files (the manual page,
# and what Debian asks of every package), and the Debian package itself:
# `make package` (cpack -G DEB from the build folder). Everything the install
# rules put under the prefix goes in; the version is the project's own, and the
# dependencies are read from the binary.

# Compressed as Debian's policy wants it: at most, without a time stamp. gzip
# does that; where it is missing, CMake's own archive writer comes close.
find_program(KELVANE_GZIP gzip)
function(kelvane_gzip input output)
  if(KELVANE_GZIP)
    execute_process(COMMAND ${KELVANE_GZIP} -9nc ${input} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
  else()
    file(ARCHIVE_CREATE OUTPUT ${output} PATHS ${input} FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
endfunction()

if(UNIX AND NOT APPLE)
  kelvane_gzip(${PROJECT_SOURCE_DIR}/src/app/kelvane.1 ${PROJECT_BINARY_DIR}/kelvane.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/kelvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME kelvane)
set(CPACK_PACKAGE_VENDOR "The Kelvane developers")
# Whoever builds the package answers for it: -DKELVANE_MAINTAINER="Name <address>".
# The default is the building user at this machine's name under .invalid, a
# domain nobody can hold; lintian refuses root, and a host without a dot.
set(_user "$ENV{USER}")
if(NOT _user)
  execute_process(COMMAND id -un OUTPUT_VARIABLE _user OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT _user MATCHES "^[A-Za-z0-9._-]+$" OR _user STREQUAL "root")
  set(_user builder)
endif()
cmake_host_system_information(RESULT _host QUERY HOSTNAME)
string(REGEX REPLACE "[^A-Za-z0-9.-]" "" _host "${_host}")
if(NOT _host)
  set(_host buildhost)
endif()
set(KELVANE_MAINTAINER "${_user} <${_user}@${_host}.invalid>" CACHE STRING "The Debian package's Maintainer: Name <address>")
set(CPACK_PACKAGE_CONTACT "${KELVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exercise TCP and UDP peers by hand")
set(CPACK_PACKAGE_DESCRIPTION
    "One window acts as a TCP client, a TCP server that serves one peer at a time,
or a UDP peer. It sends typed lines as text, optionally with CR LF, or as hex
bytes with literal text in double quotes; it sends a text file line by line on
a timer, paced by the peer; and it keeps a time-stamped log of everything,
received data shown as text and hex dump or as a raw flat stream.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# No Homepage until the project has one of its own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its windowing plugins at run time, so the binary does not name them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

# What Debian asks of every package: its copyright and a changelog.
if(UNIX AND NOT APPLE)
  set(KELVANE_DEBIAN_DOCS ${CMAKE_INSTALL_DATADIR}/doc/kelvane)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${KELVANE_DEBIAN_DOCS})

  # The changelog's date in the form Debian's changelog wants: "Mon, 07 Dec 2026".
  string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" _ ${KELVANE_RELEASE_DATE})
  set(_year ${CMAKE_MATCH_1})
  set(_dd ${CMAKE_MATCH_3})
  math(EXPR _y "${CMAKE_MATCH_1}")
  math(EXPR _m "${CMAKE_MATCH_2}")
  math(EXPR _d "${CMAKE_MATCH_3}")
  set(_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR _i "${_m} - 1")
  list(GET _offsets ${_i} _t)
  if(_m LESS 3)
    math(EXPR _y "${_y} - 1")
  endif()
  math(EXPR _dow "(${_y} + ${_y} / 4 - ${_y} / 100 + ${_y} / 400 + ${_t} + ${_d}) % 7")
  set(_days Sun Mon Tue Wed Thu Fri Sat)
  set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET _days ${_dow} _day)
  list(GET _months ${_i} _month)
  set(KELVANE_RELEASE_DATE_RFC2822 "${_day}, ${_dd} ${_month} ${_year} 00:00:00 +0000")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  kelvane_gzip(${PROJECT_BINARY_DIR}/debian/changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz DESTINATION ${KELVANE_DEBIAN_DOCS})
endif()
