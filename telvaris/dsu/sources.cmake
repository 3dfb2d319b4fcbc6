# DSU acquisition: the debug log and version, the data roads, the link to
# the unit (settings, port scan, commands), and the session: its read
# thread, P3 decoding and recording.
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/debug_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer_mode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stop_token.cpp
  ${CMAKE_CURRENT_LIST_DIR}/serial_wire.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dsu_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dsu_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/p3_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_road.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording.cpp)
