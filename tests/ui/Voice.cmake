# Tests of the spoken readout: voice threads against a recording sink, the voice bundle as
# built, and sound through ALSA's "null" device.
find_package(Qt6 REQUIRED COMPONENTS Test)
morvane_test(test_voice
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../widgets/QtEnvironment.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordingSink.h
    ${CMAKE_CURRENT_LIST_DIR}/VoiceThreadTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VoiceBundleTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AlsaSinkTest.cpp
  LIBS morvane_voice Qt6::Test)
target_compile_definitions(test_voice PRIVATE
  MORVANE_RES01="${MORVANE_RES01}" MORVANE_PROGRAM_DIR="$<TARGET_FILE_DIR:morvane>")
add_dependencies(test_voice morvane_res01)

# The main window's spoken readouts.
morvane_test(test_mainform_voice
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../widgets/QtEnvironment.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../support/StartupEnvironment.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordingSink.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFormVoiceTest.cpp
  LIBS morvane_ui Qt6::Test)
target_compile_definitions(test_mainform_voice PRIVATE MORVANE_RES01="${MORVANE_RES01}")
add_dependencies(test_mainform_voice morvane_res01)
