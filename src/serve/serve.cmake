# SPDX-License-Identifier: Apache-2.0
# reburn3 serve: the station service (HTTP on QTcpServer, records through Qt SQL) over the
# run layer's gang.
find_package(Qt6 REQUIRED COMPONENTS Core Network Sql SerialPort)

add_library(reburn3_serve STATIC
    ${CMAKE_CURRENT_LIST_DIR}/api_routes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/api_routes.h
    ${CMAKE_CURRENT_LIST_DIR}/event_feed.cpp
    ${CMAKE_CURRENT_LIST_DIR}/event_feed.h
    ${CMAKE_CURRENT_LIST_DIR}/http_request.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_request.h
    ${CMAKE_CURRENT_LIST_DIR}/http_server.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_server.h
    ${CMAKE_CURRENT_LIST_DIR}/http_service.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_service.h
    ${CMAKE_CURRENT_LIST_DIR}/metrics.cpp
    ${CMAKE_CURRENT_LIST_DIR}/metrics.h
    ${CMAKE_CURRENT_LIST_DIR}/record_journal.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_journal.h
    ${CMAKE_CURRENT_LIST_DIR}/record_reader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_reader.h
    ${CMAKE_CURRENT_LIST_DIR}/record_store.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_store.h
    ${CMAKE_CURRENT_LIST_DIR}/record_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/record_writer.h
    ${CMAKE_CURRENT_LIST_DIR}/serve_command.cpp
    ${CMAKE_CURRENT_LIST_DIR}/serve_command.h
    ${CMAKE_CURRENT_LIST_DIR}/serve_options.cpp
    ${CMAKE_CURRENT_LIST_DIR}/serve_options.h
    ${CMAKE_CURRENT_LIST_DIR}/station_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/station_state.h
)
set_target_properties(reburn3_serve PROPERTIES AUTOMOC ON)
target_link_libraries(reburn3_serve PUBLIC reburn3_run Qt6::Network Qt6::Sql Qt6::SerialPort)

# The page, from the program itself: no file beside it to go missing or be swapped.
qt_add_resources(reburn3_serve reburn3_serve_page
    PREFIX /serve/page
    BASE ${CMAKE_CURRENT_LIST_DIR}/page
    FILES
        ${CMAKE_CURRENT_LIST_DIR}/page/index.html
        ${CMAKE_CURRENT_LIST_DIR}/page/station.css
        ${CMAKE_CURRENT_LIST_DIR}/page/station.js
)
