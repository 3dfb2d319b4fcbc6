# Feedback outputs: MIDI notes and the looping MP3 player over the platform's
# media layer, and the Procyon AVE device over the serial layer.
target_sources(telvaris_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/midi_voice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mp3_player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/procyon.cpp)
target_link_libraries(telvaris_objects PRIVATE tlplatform_media)
