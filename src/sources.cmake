# The library's source files, shared by src/CMakeLists.txt and the fuzz project, which compiles
# them with its own sanitizers.
set(QIX_SQL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Cache.cc
  ${CMAKE_CURRENT_LIST_DIR}/ComponentList.cc
  ${CMAKE_CURRENT_LIST_DIR}/ComponentListFile.cc
  ${CMAKE_CURRENT_LIST_DIR}/ConfigurationInterface.cc
  ${CMAKE_CURRENT_LIST_DIR}/ConfigurationTypes.cc
  ${CMAKE_CURRENT_LIST_DIR}/Database.cc
  ${CMAKE_CURRENT_LIST_DIR}/Procedure.cc
  ${CMAKE_CURRENT_LIST_DIR}/Query.cc
  ${CMAKE_CURRENT_LIST_DIR}/block_fetch.cc
  ${CMAKE_CURRENT_LIST_DIR}/bound_records.cc
  ${CMAKE_CURRENT_LIST_DIR}/cache_files.cc
  ${CMAKE_CURRENT_LIST_DIR}/configuration_rows.cc
  ${CMAKE_CURRENT_LIST_DIR}/data_rows.cc
  ${CMAKE_CURRENT_LIST_DIR}/functions.cc
  ${CMAKE_CURRENT_LIST_DIR}/handles.cc
  ${CMAKE_CURRENT_LIST_DIR}/time_text.cc
  ${CMAKE_CURRENT_LIST_DIR}/util/file_system.cc
  ${CMAKE_CURRENT_LIST_DIR}/util/sha3.cc
  ${CMAKE_CURRENT_LIST_DIR}/util/tessel.cc)
