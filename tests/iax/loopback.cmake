# Loopback integration tests: the library's real socket against the scripted
# test peer, both on 127.0.0.1 with ephemeral ports. Each test runs in its own
# process (the library's state is process-wide).
add_executable(velnar_iax_loopback_test
  ${CMAKE_CURRENT_LIST_DIR}/loopback_call_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_auth_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_fields_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_control_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_transfer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_retransmit_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_incoming_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_timing_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loopback_loss_test.cpp
)
target_link_libraries(velnar_iax_loopback_test PRIVATE velnar_iax velnar_test_peer GTest::gtest_main)
gtest_discover_tests(velnar_iax_loopback_test DISCOVERY_TIMEOUT 30 PROPERTIES LABELS loopback)

if(VELNAR_FUZZ)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/fuzz ${CMAKE_CURRENT_BINARY_DIR}/fuzz)
endif()
