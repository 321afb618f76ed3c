# The end-to-end test drives a second build of the program that takes its service address
# from the environment, and the catalogue tool that makes the local service folder.
add_executable(tessaly-e2e ${CMAKE_CURRENT_LIST_DIR}/e2e_main.cpp)
target_link_libraries(tessaly-e2e PRIVATE tessaly_ui tessaly_resources tessaly_common)
set_target_properties(tessaly-e2e PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/e2e)

if(TARGET e2e_test_endtoend)
    add_dependencies(e2e_test_endtoend tessaly-e2e tessaly-catalogue)
    set_tests_properties(e2e_test_endtoend PROPERTIES TIMEOUT 120 LABELS "e2e")
endif()

# The process tests of the ui area run the same test build of the program.
if(TARGET ui_test_program_process)
    add_dependencies(ui_test_program_process tessaly-e2e)
endif()
