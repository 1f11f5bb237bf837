# SPDX-License-Identifier: Apache-2.0
# The station page in a real browser (scripts/bootstrap.sh serve), skipped (77) where it cannot start.
if(TARGET reburn3 AND TARGET reburn3-sim)
    add_test(NAME browser.station_page COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/station_page_test.py
        $<TARGET_FILE:reburn3> $<TARGET_FILE:reburn3-sim> ${PROJECT_SOURCE_DIR}/examples/orx716_demo.pf3)
    set_tests_properties(browser.station_page PROPERTIES LABELS browser SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL TRUE)
endif()
