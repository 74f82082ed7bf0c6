# The driver's source files, shared by driver/CMakeLists.txt and the fuzz project, which
# compiles them with its own sanitizers.
set(QIX_LITE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Api.cc
  ${CMAKE_CURRENT_LIST_DIR}/Catalogue.cc
  ${CMAKE_CURRENT_LIST_DIR}/Connection.cc
  ${CMAKE_CURRENT_LIST_DIR}/Conversion.cc
  ${CMAKE_CURRENT_LIST_DIR}/Cursor.cc
  ${CMAKE_CURRENT_LIST_DIR}/Diagnostics.cc
  ${CMAKE_CURRENT_LIST_DIR}/Handles.cc
  ${CMAKE_CURRENT_LIST_DIR}/Info.cc
  ${CMAKE_CURRENT_LIST_DIR}/OracleStatements.cc
  ${CMAKE_CURRENT_LIST_DIR}/Settings.cc
  ${CMAKE_CURRENT_LIST_DIR}/SqlText.cc
  ${CMAKE_CURRENT_LIST_DIR}/Statement.cc
  ${CMAKE_CURRENT_LIST_DIR}/StatementAttributes.cc
  ${CMAKE_CURRENT_LIST_DIR}/TimestampFormat.cc
  ${CMAKE_CURRENT_LIST_DIR}/Utf16.cc
  ${CMAKE_CURRENT_LIST_DIR}/WideApi.cc)
