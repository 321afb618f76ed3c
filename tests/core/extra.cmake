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
        ENVIRONMENT "TZ=UTC;LC_ALL=C.UTF-8;LANG=C.UTF-8")
endif()
