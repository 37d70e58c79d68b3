# The simulated module: its logic as a library (driven directly by tests and
# fuzzers), and the program that serves it over the virtual cable.
add_library(fx60_sim_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/finger_timeline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fault_plan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/simulated_module.cpp
  ${CMAKE_CURRENT_LIST_DIR}/module_control.cpp
)
target_include_directories(fx60_sim_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(fx60_sim_core PUBLIC fx60_synth Threads::Threads)

# The socket server every simulator program shares.
add_library(fx60_sim_server STATIC ${CMAKE_CURRENT_LIST_DIR}/cable_server.cpp)
target_include_directories(fx60_sim_server PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(fx60_sim_server PUBLIC Threads::Threads)

add_executable(fx60-sim ${CMAKE_CURRENT_LIST_DIR}/fx60_sim_main.cpp)
target_link_libraries(fx60-sim PRIVATE fx60_sim_core fx60_sim_server)
