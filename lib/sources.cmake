# The plug-in's sources: its runtime services here and the event catalogue,
# for the plug-in's builds in lib/ and the fuzzers, which compile them again
# with coverage.
include(${CMAKE_CURRENT_LIST_DIR}/../events/sources.cmake)
# The platform layer of the target: the kernel's own calls on Windows, a POSIX
# stand-in elsewhere.
if(WIN32)
  set(VX_PLATFORM_SOURCE ${CMAKE_CURRENT_LIST_DIR}/platform/windows.cpp)
else()
  set(VX_PLATFORM_SOURCE ${CMAKE_CURRENT_LIST_DIR}/platform/posix.cpp)
endif()
set(VX_LIBRARY_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/buffer/iterator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/buffer/radix_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/heap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/id_map.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log.cpp
  ${VX_PLATFORM_SOURCE}
  ${VX_EVENT_SOURCES})
