# End-to-end tests of the real stub under Wine, registered in the host build.
# They need the win32 build (the stub, the test driver and the command program);
# without it, or without Wine or Xvfb, they report themselves skipped.
set(TOLVANE_WIN32_DIR ${CMAKE_SOURCE_DIR}/build/win32 CACHE PATH
    "The win32 build whose stub the end-to-end tests run under Wine")
set(TOLVANE_WINDOWS_DIR ${CMAKE_SOURCE_DIR}/build/windows CACHE PATH
    "The windows build whose tolvane-pack.exe an end-to-end test runs under Wine")
find_package(Python3 COMPONENTS Interpreter)
if(NOT Python3_Interpreter_FOUND)
  message(STATUS "End-to-end tests under Wine: skipped, no Python 3")
  return()
endif()
if(NOT EXISTS ${TOLVANE_WIN32_DIR}/tolvane-sfx.exe)
  message(STATUS "End-to-end tests under Wine: ${TOLVANE_WIN32_DIR}/tolvane-sfx.exe is missing; "
                 "build the win32 preset first, the tests report themselves skipped until then")
endif()

set(e2e_script ${CMAKE_CURRENT_LIST_DIR}/run_e2e.py)
set(e2e_args --win32 ${TOLVANE_WIN32_DIR} --work ${CMAKE_BINARY_DIR}/e2e-wine)
# tools/ is added after tests/: the generator expression resolves the target later.
if(TOLVANE_TOOLS)
  list(APPEND e2e_args --pack $<TARGET_FILE:tolvane-pack>)
endif()
# Passed even before it is built: the scenario that needs it skips until then.
list(APPEND e2e_args --pack-windows ${TOLVANE_WINDOWS_DIR}/tools/tolvane-pack.exe)

# One Xvfb display and one Wine prefix for the whole run: a set-up fixture
# starts them, a clean-up fixture stops them, the scenarios run one at a time.
add_test(NAME e2e.setup COMMAND Python3::Interpreter ${e2e_script} ${e2e_args} setup)
add_test(NAME e2e.cleanup COMMAND Python3::Interpreter ${e2e_script} ${e2e_args} cleanup)
set_tests_properties(e2e.setup PROPERTIES FIXTURES_SETUP wine SKIP_RETURN_CODE 77 TIMEOUT 400
                     RESOURCE_LOCK wine LABELS e2e)
set_tests_properties(e2e.cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120 RESOURCE_LOCK wine
                     LABELS e2e)

execute_process(COMMAND ${Python3_EXECUTABLE} ${e2e_script} list
                OUTPUT_VARIABLE e2e_names OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE "\n" ";" e2e_names "${e2e_names}")
foreach(name IN LISTS e2e_names)
  add_test(NAME e2e.${name} COMMAND Python3::Interpreter ${e2e_script} ${e2e_args} run ${name})
  set_tests_properties(e2e.${name} PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77
                       TIMEOUT 300 RESOURCE_LOCK wine LABELS e2e)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${e2e_script}
             ${CMAKE_CURRENT_LIST_DIR}/pack_scenarios.py ${CMAKE_CURRENT_LIST_DIR}/option_scenarios.py
             ${CMAKE_CURRENT_LIST_DIR}/unicode_scenarios.py)
