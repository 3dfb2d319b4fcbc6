# How a folder takes in its parts: every subfolder with a CMakeLists.txt of
# its own (tests, tools, benchmarks), or every subsystem folder with a
# sources.cmake (the library's subsystems, which all compile into one
# object library).

# tl_add_subfolders(): add_subdirectory for each subfolder of the current
# source folder that has a CMakeLists.txt.
function(tl_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# tl_include_subsystems(): include() the sources.cmake of each subfolder of
# the current source folder. A macro, so that what a sources.cmake finds
# (packages, imported targets) stays visible in the including folder.
macro(tl_include_subsystems)
  file(GLOB tl_subsystem_files ${CMAKE_CURRENT_SOURCE_DIR}/*/sources.cmake)
  foreach(tl_subsystem_file IN LISTS tl_subsystem_files)
    include(${tl_subsystem_file})
  endforeach()
endmacro()
