# SPDX-License-Identifier: Apache-2.0
# What the package ships besides the programs: the completion, the man pages, the desktop
# entry and the metainfo, and the programs' --version and --help. The Linux package's: the
# Windows programs have their own checks (tests/windows, scripts/windows-check.sh).
if(NOT TARGET reburn3 OR REBURN3_PLATFORM STREQUAL "windows")
    return()
endif()

add_test(NAME packaging.completion
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/completion_test.sh
            ${PROJECT_SOURCE_DIR}/packaging/completion/reburn3 $<TARGET_FILE_DIR:reburn3>)
set_tests_properties(packaging.completion PROPERTIES LABELS packaging TIMEOUT 60)

if(TARGET reburn3-gui)
    add_test(NAME packaging.version_and_help
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/version_help_test.sh
                $<TARGET_FILE:reburn3> $<TARGET_FILE:reburn3-gui> ${PROJECT_VERSION})
    set_tests_properties(packaging.version_and_help PROPERTIES LABELS packaging TIMEOUT 60)

    add_test(NAME packaging.desktop_files
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/desktop_files_test.sh
                ${PROJECT_SOURCE_DIR}/src/gui/resources/reburn3-gui.desktop
                ${PROJECT_BINARY_DIR}/packaging/org.reburn3.reburn3_gui.metainfo.xml)
    set_tests_properties(packaging.desktop_files PROPERTIES LABELS packaging TIMEOUT 60)
endif()

# Each command's option table against its --help, its man page and the completion.
if(REBURN3_MAN_PAGES)
    set(man_dir ${PROJECT_BINARY_DIR}/packaging)
endif()
add_test(NAME packaging.option_tables
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/option_tables_test.sh $<TARGET_FILE_DIR:reburn3>
            ${man_dir})
set_tests_properties(packaging.option_tables PROPERTIES LABELS packaging TIMEOUT 60)

if(REBURN3_MAN_PAGES)
    add_test(NAME packaging.man_pages_follow_help
        COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man_pages_test.sh $<TARGET_FILE_DIR:reburn3>
                ${PROJECT_BINARY_DIR}/packaging)
    set_tests_properties(packaging.man_pages_follow_help PROPERTIES LABELS packaging TIMEOUT 60)
endif()

# The station service's fleet kit: both systemd units (verify, exposure, the same
# hardening), the alerting rules under promtool test rules, and the Grafana dashboard's
# queries against the rules' metrics. Skipped (77) where systemd-analyze or promtool is
# missing.
add_test(NAME packaging.systemd_units
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/systemd_units_test.sh ${PROJECT_SOURCE_DIR}/debian
            $<TARGET_FILE:reburn3>)
add_test(NAME packaging.alert_rules
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/alert_rules_test.sh
            ${PROJECT_SOURCE_DIR}/packaging/prometheus/reburn3-alerts.yml
            ${CMAKE_CURRENT_LIST_DIR}/reburn3_alerts_test.yml)
set_tests_properties(packaging.systemd_units packaging.alert_rules
    PROPERTIES LABELS packaging TIMEOUT 60 SKIP_RETURN_CODE 77)
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
    add_test(NAME packaging.grafana_dashboard
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/fleet_kit_test.py
                ${PROJECT_SOURCE_DIR}/packaging/prometheus/reburn3-alerts.yml
                ${PROJECT_SOURCE_DIR}/packaging/grafana/reburn3-fleet.json
                ${PROJECT_SOURCE_DIR}/src/serve/metrics.cpp)
    set_tests_properties(packaging.grafana_dashboard PROPERTIES LABELS packaging TIMEOUT 60)
    # The units' way to the database password (PGPASSFILE naming the credential), against a
    # real PostgreSQL server that asks for one; skipped (77) where the server cannot start.
    if(TARGET reburn3-sim)
        add_test(NAME packaging.pgpass
            COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/pgpass_test.py
                    --reburn3 $<TARGET_FILE:reburn3> --sim $<TARGET_FILE:reburn3-sim>
                    --script ${PROJECT_SOURCE_DIR}/examples/orx716_demo.pf3)
        set_tests_properties(packaging.pgpass PROPERTIES LABELS packaging TIMEOUT 120
            SKIP_RETURN_CODE 77)
        # Every system call, socket and mapping a round of the service makes, against what
        # the units' sandbox allows; skipped (77) without strace or where it cannot trace.
        add_test(NAME packaging.unit_sandbox
            COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/unit_sandbox_test.py
                    --reburn3 $<TARGET_FILE:reburn3> --sim $<TARGET_FILE:reburn3-sim>
                    --script ${PROJECT_SOURCE_DIR}/examples/orx716_demo.pf3
                    --unit ${PROJECT_SOURCE_DIR}/debian/reburn3.reburn3-serve@.service)
        set_tests_properties(packaging.unit_sandbox PROPERTIES LABELS packaging TIMEOUT 180
            SKIP_RETURN_CODE 77)
    endif()
endif()
