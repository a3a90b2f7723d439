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

# The main window's spoken readouts.
morvane_test(test_mainform_voice
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/../support/MorvaneApplication.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../support/StartupEnvironment.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RecordingSink.h
    ${CMAKE_CURRENT_LIST_DIR}/MainFormVoiceTest.cpp
  LIBS morvane_ui Qt6::Test)

# The window's test programs live together and find the voice bundle beside them, as the
# program does.
set(MORVANE_UI_TEST_DIR ${CMAKE_BINARY_DIR}/tests/ui)
set_target_properties(test_voice test_mainform_voice PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${MORVANE_UI_TEST_DIR})
add_custom_target(morvane_res01_for_tests ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MORVANE_UI_TEST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${MORVANE_RES01} ${MORVANE_UI_TEST_DIR}/Res01.rcc
  DEPENDS morvane_res01
  VERBATIM)
foreach(t test_voice test_mainform_voice test_ui)
  if(TARGET ${t})
    add_dependencies(${t} morvane_res01_for_tests)
  endif()
endforeach()

# The real program speaks after a move, under Xvfb.
add_test(NAME VoiceEndToEnd
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/VoiceEndToEnd.sh $<TARGET_FILE:morvane> ${MORVANE_RES01}
          ${PROJECT_BINARY_DIR}/src/Res01/recordings)
set_tests_properties(VoiceEndToEnd PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
