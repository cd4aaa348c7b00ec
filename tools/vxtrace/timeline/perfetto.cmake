# The timeline's native format: Perfetto's protobuf trace, written with a
# hand-written encoder (perfetto_subset.proto declares what it writes, for
# decoding with protoc). Included from tools/vxtrace/CMakeLists.txt, so that
# the folder's other writers keep a CMakeLists.txt of their own.
set(VX_TIMELINE_NATIVE_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(vxtrace_timeline_native STATIC ${VX_TIMELINE_NATIVE_DIR}/perfetto_writer.cpp
  ${VX_TIMELINE_NATIVE_DIR}/payload_annotations.cpp)
target_include_directories(vxtrace_timeline_native PUBLIC ${VX_TIMELINE_NATIVE_DIR}/..)
target_compile_options(vxtrace_timeline_native PRIVATE -Wall -Wextra -Wshadow)
target_link_libraries(vxtrace_timeline_native PUBLIC vxtrace_schema)

# The writer's benchmark (bench/perfetto_bench.cpp) compares it with the
# protobuf library writing the same packets, so only the benchmark links the
# library and the classes generated from perfetto_subset.proto.
if(VX_BUILD_BENCH)
  find_package(benchmark REQUIRED)
  find_package(Protobuf REQUIRED)
  protobuf_generate_cpp(VX_PERFETTO_PROTO_SOURCES VX_PERFETTO_PROTO_HEADERS
    ${VX_TIMELINE_NATIVE_DIR}/perfetto_subset.proto)
  add_executable(vx_perfetto_bench ${PROJECT_SOURCE_DIR}/bench/perfetto_bench.cpp
    ${VX_PERFETTO_PROTO_SOURCES})
  target_include_directories(vx_perfetto_bench PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(vx_perfetto_bench PRIVATE vxtrace_timeline_native protobuf::libprotobuf
    benchmark::benchmark)
endif()
