# Network messaging: the MQTT link over the Eclipse Paho C synchronous client,
# and the cloud client's datagrams.
find_package(eclipse-paho-mqtt-c REQUIRED)
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/mqtt_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mqtt_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feedback_decision.cpp
  ${CMAKE_CURRENT_LIST_DIR}/datagrams.cpp)

# The client library's TLS variant (ssl:// addresses); Paho's CMake package
# names OpenSSL's targets without finding them, so they are found here, for
# every folder. The Windows build's Paho has no TLS variant and refuses
# ssl:// with its own code. The two variants cannot share a process:
# whatever links Paho itself next to the library (the tests) links tl_paho.
if(WIN32)
  set(tl_paho_variant eclipse-paho-mqtt-c::paho-mqtt3c)
else()
  find_package(OpenSSL REQUIRED GLOBAL)
  set(tl_paho_variant eclipse-paho-mqtt-c::paho-mqtt3cs)
endif()
add_library(tl_paho INTERFACE)
target_link_libraries(tl_paho INTERFACE ${tl_paho_variant})
target_link_libraries(telvaris_objects PRIVATE tl_paho)
