# Network messaging: the MQTT link over the Eclipse Paho C synchronous client,
# and the cloud client's datagrams.
find_package(eclipse-paho-mqtt-c REQUIRED)
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/mqtt_link.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mqtt_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feedback_decision.cpp
  ${CMAKE_CURRENT_LIST_DIR}/datagrams.cpp)
target_link_libraries(telvaris_objects PRIVATE eclipse-paho-mqtt-c::paho-mqtt3c)
