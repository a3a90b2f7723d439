# The spoken readout: voice threads, the voice bundle and sound through ALSA.
find_package(ALSA REQUIRED)
add_library(morvane_voice STATIC
  ${CMAKE_CURRENT_LIST_DIR}/AlsaSink.cpp ${CMAKE_CURRENT_LIST_DIR}/AlsaSink.h
  ${CMAKE_CURRENT_LIST_DIR}/SoundSink.cpp ${CMAKE_CURRENT_LIST_DIR}/SoundSink.h
  ${CMAKE_CURRENT_LIST_DIR}/ResourceFile.cpp ${CMAKE_CURRENT_LIST_DIR}/ResourceFile.h
  ${CMAKE_CURRENT_LIST_DIR}/VoiceBundle.cpp ${CMAKE_CURRENT_LIST_DIR}/VoiceBundle.h
  ${CMAKE_CURRENT_LIST_DIR}/VoiceThread.cpp ${CMAKE_CURRENT_LIST_DIR}/VoiceThread.h
  ${CMAKE_CURRENT_LIST_DIR}/WaveFile.cpp ${CMAKE_CURRENT_LIST_DIR}/WaveFile.h)
target_include_directories(morvane_voice PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(morvane_voice PUBLIC morvane_core morvane_widgets Qt6::Widgets ALSA::ALSA)
target_link_libraries(morvane_voice PUBLIC morvane_settings)
