# The Eclipse Paho MQTT C client for builds without a system package (the
# Windows build): TELVARIS_PAHO_DIR names its installation, with
# include/MQTTClient.h, the import library in lib/ and paho-mqtt3c.dll in
# bin/ (or beside the import library). An installation made by Paho's own
# CMake is taken through its package file. Gives the imported target
# eclipse-paho-mqtt-c::paho-mqtt3c, and TELVARIS_PAHO_DLL: the file to ship
# next to telvaris.dll.
set(TELVARIS_PAHO_DIR "" CACHE PATH "Where the Paho MQTT C client is installed")

if(NOT TARGET eclipse-paho-mqtt-c::paho-mqtt3c)
  find_package(eclipse-paho-mqtt-c CONFIG QUIET HINTS ${TELVARIS_PAHO_DIR} NO_DEFAULT_PATH)
endif()

if(TARGET eclipse-paho-mqtt-c::paho-mqtt3c)
  get_target_property(tl_paho_config eclipse-paho-mqtt-c::paho-mqtt3c IMPORTED_CONFIGURATIONS)
  list(GET tl_paho_config 0 tl_paho_config)
  get_target_property(TELVARIS_PAHO_DLL eclipse-paho-mqtt-c::paho-mqtt3c IMPORTED_LOCATION_${tl_paho_config})
  set(eclipse-paho-mqtt-c_FOUND TRUE)
  return()
endif()

find_path(TELVARIS_PAHO_INCLUDE_DIR MQTTClient.h HINTS ${TELVARIS_PAHO_DIR}/include NO_CMAKE_FIND_ROOT_PATH)
find_library(TELVARIS_PAHO_IMPLIB NAMES paho-mqtt3c HINTS ${TELVARIS_PAHO_DIR}/lib NO_CMAKE_FIND_ROOT_PATH)
find_file(TELVARIS_PAHO_DLL NAMES paho-mqtt3c.dll HINTS ${TELVARIS_PAHO_DIR}/bin ${TELVARIS_PAHO_DIR}/lib
          NO_CMAKE_FIND_ROOT_PATH)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(eclipse-paho-mqtt-c
  REQUIRED_VARS TELVARIS_PAHO_IMPLIB TELVARIS_PAHO_INCLUDE_DIR TELVARIS_PAHO_DLL
  REASON_FAILURE_MESSAGE "set TELVARIS_PAHO_DIR to the Paho C installation (scripts/build-windows.sh builds one)")

if(eclipse-paho-mqtt-c_FOUND)
  add_library(eclipse-paho-mqtt-c::paho-mqtt3c SHARED IMPORTED)
  set_target_properties(eclipse-paho-mqtt-c::paho-mqtt3c PROPERTIES
    IMPORTED_IMPLIB ${TELVARIS_PAHO_IMPLIB}
    IMPORTED_LOCATION ${TELVARIS_PAHO_DLL}
    INTERFACE_INCLUDE_DIRECTORIES ${TELVARIS_PAHO_INCLUDE_DIR})
endif()
