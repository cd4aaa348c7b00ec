# The event catalogue's sources, which the plug-in's two builds in lib/
# compile with its runtime services.
set(VX_EVENT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/audio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/byte_blob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/media.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video.cpp)
