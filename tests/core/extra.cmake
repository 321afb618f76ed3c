# Cross-check of the catalogue page format against an independent implementation
# installed from npm into the build tree (test only; never linked into the program).
add_executable(cipher_oracle_dump ${CMAKE_SOURCE_DIR}/tests/oracle/dump_rows.cpp)
target_link_libraries(cipher_oracle_dump PRIVATE tessaly_core tessaly_common)

if(TARGET tessaly-catalogue)
    add_test(NAME core_cipher_oracle
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/oracle/run_oracle.sh
            ${CMAKE_SOURCE_DIR}/tests/oracle
            ${CMAKE_BINARY_DIR}/oracle
            $<TARGET_FILE:cipher_oracle_dump>
            $<TARGET_FILE:tessaly-catalogue>)
    set_tests_properties(core_cipher_oracle PROPERTIES
        TIMEOUT 900
        LABELS "core;oracle"
        FIXTURES_REQUIRED test_home
        ENVIRONMENT "TZ=UTC;LC_ALL=C.UTF-8;LANG=C.UTF-8;${TEST_HOME_ENV}")
endif()

# The lock-token check in a child process: as the tests are built, and with checked mode off.
set(LOCKTOKEN_CHILD_SOURCE ${CMAKE_SOURCE_DIR}/tests/core/threads/locktoken_child.cpp)
add_executable(locktoken_child ${LOCKTOKEN_CHILD_SOURCE})
target_link_libraries(locktoken_child PRIVATE tessaly_core tessaly_common)
add_executable(locktoken_child_unchecked ${LOCKTOKEN_CHILD_SOURCE}
    ${CMAKE_SOURCE_DIR}/core/threads/QReadLockerExt2.cpp ${CMAKE_SOURCE_DIR}/core/threads/QWriteLockerExt2.cpp)
target_include_directories(locktoken_child_unchecked PRIVATE ${CMAKE_SOURCE_DIR}/core)
target_link_libraries(locktoken_child_unchecked PRIVATE Qt5::Core tessaly_common)
# Comes after the -D that tessaly_common adds in checked and sanitizer builds.
target_compile_options(locktoken_child_unchecked PRIVATE -UTESSALY_CHECKED_BUILD)
if(TARGET core_test_threads)
    add_dependencies(core_test_threads locktoken_child locktoken_child_unchecked)
    target_compile_definitions(core_test_threads PRIVATE
        LOCKTOKEN_CHILD="$<TARGET_FILE:locktoken_child>"
        LOCKTOKEN_CHILD_UNCHECKED="$<TARGET_FILE:locktoken_child_unchecked>")
endif()
