# SPDX-License-Identifier: Apache-2.0
# The request parser and the records' journal of `reburn3 serve` on their own; the service
# end to end against simulated devices (records in SQLite) and attacked (token, Host, TLS,
# floods, EMFILE), its records under faults (full disks, a deleted file, a kill), its
# metrics through promtool, and its records in a real PostgreSQL server stopped, restarted
# and paused under it, also paused while the records are read. promtool and PostgreSQL are
# skipped (exit 77) where they are missing or the server cannot start.
if(TARGET reburn3_serve)
    add_executable(serve_unit_tests ${CMAKE_CURRENT_LIST_DIR}/http_request_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/record_journal_test.cpp ${CMAKE_CURRENT_LIST_DIR}/record_rows_test.cpp)
    target_link_libraries(serve_unit_tests PRIVATE reburn3_serve GTest::gtest GTest::gtest_main)
    gtest_discover_tests(serve_unit_tests PROPERTIES LABELS serve DISCOVERY_TIMEOUT 60)
endif()

if(TARGET reburn3 AND TARGET reburn3-sim)
    find_program(REBURN3_PYTHON3 python3)
    if(REBURN3_PYTHON3)
        set(serve_args --reburn3 $<TARGET_FILE:reburn3> --sim $<TARGET_FILE:reburn3-sim>
            --script ${PROJECT_SOURCE_DIR}/examples/orx716_demo.pf3)
        set(serve_metrics ${CMAKE_CURRENT_BINARY_DIR}/serve_metrics.txt)
        add_test(NAME serve.e2e
            COMMAND ${REBURN3_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/serve_e2e_test.py ${serve_args}
                --metrics-out ${serve_metrics})
        set_tests_properties(serve.e2e PROPERTIES LABELS serve TIMEOUT 120
            FIXTURES_SETUP serve_metrics)
        add_test(NAME serve.promtool
            COMMAND sh -c "command -v promtool >/dev/null || { echo 'SKIPPED: promtool (Debian prometheus) is not installed'; exit 77; }; promtool check metrics < \"$1\"" sh ${serve_metrics})
        set_tests_properties(serve.promtool PROPERTIES LABELS serve TIMEOUT 30
            SKIP_RETURN_CODE 77 FIXTURES_REQUIRED serve_metrics)
        # The records' cases are independent of one another: one ctest entry each.
        foreach(case journal_full database_full file_deleted_and_killed)
            add_test(NAME serve.records.${case}
                COMMAND ${REBURN3_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/serve_records_test.py
                    ${serve_args} --case ${case})
            set_tests_properties(serve.records.${case} PROPERTIES LABELS serve TIMEOUT 300
                SKIP_RETURN_CODE 77)
        endforeach()
        add_test(NAME serve.guard
            COMMAND ${REBURN3_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/serve_guard_test.py ${serve_args})
        set_tests_properties(serve.guard PROPERTIES LABELS serve TIMEOUT 180)
        add_test(NAME serve.reader_hung
            COMMAND ${REBURN3_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/serve_reader_test.py ${serve_args})
        set_tests_properties(serve.reader_hung PROPERTIES LABELS serve TIMEOUT 120
            SKIP_RETURN_CODE 77)
        add_test(NAME serve.postgresql
            COMMAND ${REBURN3_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/serve_postgres_test.py ${serve_args}
                --queries-out ${CMAKE_CURRENT_BINARY_DIR}/serve_queries.txt)
        set_tests_properties(serve.postgresql PROPERTIES LABELS serve TIMEOUT 300
            SKIP_RETURN_CODE 77)
    endif()
endif()
