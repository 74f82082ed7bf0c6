# Installs the build tree BUILD_DIR into a temporary prefix, sets up the demo data source with the
# installed qix-sql (which must find the installed driver), then builds and runs the consumer in
# CONSUMER_DIR twice against it: once through find_package(qix_sql CONFIG), once through
# pkg-config. The temporary folder is removed in every case.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND mktemp -d /tmp/qix-install-test.XXXXXX OUTPUT_VARIABLE work OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(prefix ${work}/prefix)
set(failure "")

# Runs a command; on failure records the message and its output.
macro(step what)
  if(failure STREQUAL "")
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      set(failure "${what} failed (${rc}):\n${out}\n${err}")
    endif()
  endif()
endmacro()

macro(expect_output what expected)
  if(failure STREQUAL "" AND NOT out STREQUAL "${expected}")
    set(failure "${what} printed\n${out}\ninstead of\n${expected}")
  endif()
endmacro()

step("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file bin/qix-sql lib/libqix_sql.so lib/odbc/libqix_lite_odbc.so include/qix/sql/Database.h
             lib/cmake/qix_sql/qix_sqlConfig.cmake lib/pkgconfig/qix_sql.pc)
  if(failure STREQUAL "" AND NOT EXISTS ${prefix}/${file})
    set(failure "The installation lacks ${file}")
  endif()
endforeach()

step("the installed qix-sql demo" ${CMAKE_COMMAND} -E env --unset=ODBCINI --unset=QIX_SQL_DSN
     ${prefix}/bin/qix-sql demo --dir ${work}/demo --no-tour)
set(run_env ${CMAKE_COMMAND} -E env ODBCSYSINI=${work}/demo --unset=ODBCINI)
set(expected "qix_demo: 2482 components of LUMEN, 4 configuration types\n")

step("configuring the find_package consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${work}/consumer
     -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
step("building the find_package consumer" ${CMAKE_COMMAND} --build ${work}/consumer)
step("running the find_package consumer" ${run_env} ${work}/consumer/consumer qix_demo)
expect_output("The find_package consumer" "${expected}")

step("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig pkg-config --cflags --libs qix_sql)
string(STRIP "${out}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
step("building the pkg-config consumer" ${CXX} -std=c++20 ${CONSUMER_FLAGS} ${CONSUMER_DIR}/main.cc ${pc_flags}
     -Wl,-rpath,${prefix}/lib -o ${work}/consumer-pc)
step("running the pkg-config consumer" ${run_env} ${work}/consumer-pc qix_demo)
expect_output("The pkg-config consumer" "${expected}")

file(REMOVE_RECURSE ${work})
if(NOT failure STREQUAL "")
  message(FATAL_ERROR "${failure}")
endif()
message(STATUS "Installed, found by find_package and pkg-config, and used: ${expected}")
