# Injected into Paho's own build (CMAKE_PROJECT_INCLUDE) for Windows: its
# DLL is called paho-mqtt3c.dll there, without mingw's "lib" in front.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
