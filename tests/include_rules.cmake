# Dependencies run one way: platform <- net, log, send <- ui <- app.
# Reads every #include under src and fails on one that runs the wrong way:
#  - platform includes nothing of the program's other folders;
#  - net, log and send include nothing of ui or app and nothing of each other;
#  - below ui nothing includes a header of Qt's GUI or widget modules;
#  - ui includes nothing of app;
#  - only platform includes a header of the system beneath Qt (POSIX, Linux,
#    Windows): everything else goes through platform.
# Run as: cmake -DSRC=<src folder> -DGUI_HEADERS=<a;list> -P include_rules.cmake

cmake_policy(VERSION 3.22)
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
set(forbidden_platform "net/;log/;send/;ui/;app/")
set(forbidden_net "log/;send/;ui/;app/")
set(forbidden_log "net/;send/;ui/;app/")
set(forbidden_send "net/;log/;ui/;app/")
set(forbidden_ui "app/")
set(widget_free "platform;net;log;send")
set(system_header "^(sys|arpa|netinet|net|linux|asm|bits|mach)/|^(unistd|fcntl|poll|dlfcn|dirent|pthread|termios|netdb|ifaddrs|windows|winsock2|ws2tcpip|io)\\.h$")

set(failures "")
foreach(source ${sources})
  string(REGEX MATCH "^[a-z]+" folder "${source}")
  file(STRINGS ${SRC}/${source} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*$" "\\1" included "${line}")
    foreach(prefix ${forbidden_${folder}})
      if(included MATCHES "^${prefix}")
        list(APPEND failures "${source} includes ${included}")
      endif()
    endforeach()
    if(NOT folder STREQUAL "platform" AND line MATCHES "<" AND included MATCHES "${system_header}")
      list(APPEND failures "${source} includes the system header ${included}")
    endif()
    if(folder IN_LIST widget_free)
      string(REGEX REPLACE "^Qt(Gui|Widgets)/" "" bare "${included}")
      if(bare IN_LIST GUI_HEADERS OR included MATCHES "^Qt(Gui|Widgets)")
        list(APPEND failures "${source} includes the GUI header ${included}")
      endif()
    endif()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Includes that run the wrong way:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} files, every include runs the right way")
