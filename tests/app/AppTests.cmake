# The application suite also uses Qt's signal spy, and runs the built program.
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
target_link_libraries(app_tests PRIVATE Qt6::Test)
# The scripters' pages, whose examples the program-level tests run.
target_compile_definitions(app_tests PRIVATE OSTREL_DOCS_DIR="${PROJECT_SOURCE_DIR}/docs")
if(TARGET ostrel)
  add_dependencies(app_tests ostrel ostrel_door_crowd ostrel_hidden_user_list)
  target_compile_definitions(app_tests PRIVATE OSTREL_PROGRAM="$<TARGET_FILE:ostrel>"
                                               OSTREL_DOOR_CROWD="$<TARGET_FILE:ostrel_door_crowd>"
                                               OSTREL_HIDDEN_USER_LIST="$<TARGET_FILE:ostrel_hidden_user_list>"
                                               OSTREL_RUN_SCRIPT="${PROJECT_SOURCE_DIR}/scripts/run.sh")
endif()
# The demonstration tests stand in for the main window with a QObject of their own.
set_target_properties(app_tests PROPERTIES AUTOMOC ON)
