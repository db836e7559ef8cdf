# Tests that run inside the network lab (scripts/lab). Anything that opens the client's sockets,
# sweeps or multicasts is registered here, never as a plain test.
#
#   vistrel_add_lab_test(NAME <name> COMMAND <command> [<arg>...]
#                        [LAB_ARGS <lab option>...] [LABELS <label>...] [TIMEOUT <seconds>]
#                        [ENVIRONMENT <VAR=value>...] [WORKING_DIRECTORY <dir>] [HOST] [BESIDE])
#
# The command runs in the client namespace of a lab made for this test alone (lab-run.sh), with the
# lab's layout in LAB_* variables; LAB_ARGS are lab.sh up options (--cameras 3, --camera-addrs 1000,
# --client-addrs 2, --other-subnet, ...). HOST makes no lab and runs the command where ctest runs
# it, for tests that make labs themselves. Lab tests run one at a time, carry the label "lab", and
# are reported as skipped where the machine cannot host a lab (not root, no network namespaces).
# BESIDE lets a test that mostly waits on the cameras' clocks (a few streams, no decoding against
# a frame budget) run beside other tests: labs are apart from each other, and the CPU time
# such a test needs is small. Tests that decode, render or compare timings stay alone.
include_guard(GLOBAL)

set(VISTREL_LAB_RUN "${CMAKE_CURRENT_LIST_DIR}/../scripts/lab/lab-run.sh")
cmake_path(NORMAL_PATH VISTREL_LAB_RUN)
set(VISTREL_LAB_SKIP_CODE 77)
# A tree that runs no lab test (the sanitizer tree) need not build the programs only lab tests run.
option(VISTREL_LAB_PROGRAMS "Build the programs that only lab tests run" ON)

# vistrel_lab_programs(<target>...): programs that only lab tests run; left out of "all" where
# VISTREL_LAB_PROGRAMS is off.
function(vistrel_lab_programs)
  if(NOT VISTREL_LAB_PROGRAMS)
    set_target_properties(${ARGN} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endfunction()

function(vistrel_add_lab_test)
  cmake_parse_arguments(PARSE_ARGV 0 L "HOST;BESIDE" "NAME;TIMEOUT;WORKING_DIRECTORY"
                        "COMMAND;LAB_ARGS;LABELS;ENVIRONMENT")
  # A command may well be "false"; test for presence, not truth.
  if(NOT DEFINED L_NAME OR NOT DEFINED L_COMMAND)
    message(FATAL_ERROR "vistrel_add_lab_test: NAME and COMMAND are required")
  endif()
  if(L_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vistrel_add_lab_test(${L_NAME}): unknown arguments ${L_UNPARSED_ARGUMENTS}")
  endif()
  if(L_HOST AND L_LAB_ARGS)
    message(FATAL_ERROR "vistrel_add_lab_test(${L_NAME}): HOST makes no lab, LAB_ARGS make no sense")
  endif()

  if(L_HOST)
    set(run_args --host)
  else()
    set(run_args ${L_LAB_ARGS})
  endif()
  if(NOT L_WORKING_DIRECTORY)
    set(L_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(NOT L_TIMEOUT)
    set(L_TIMEOUT 300)
  endif()

  add_test(NAME ${L_NAME}
           COMMAND ${VISTREL_LAB_RUN} ${run_args} -- ${L_COMMAND}
           WORKING_DIRECTORY ${L_WORKING_DIRECTORY})
  if(L_BESIDE)
    set(serial FALSE)
  else()
    set(serial TRUE)
  endif()
  set_tests_properties(${L_NAME} PROPERTIES
    RUN_SERIAL ${serial}
    SKIP_RETURN_CODE ${VISTREL_LAB_SKIP_CODE}
    TIMEOUT ${L_TIMEOUT})
  set_property(TEST ${L_NAME} PROPERTY LABELS lab ${L_LABELS})
  # Lab layout files go to the build tree, not the source tree.
  set_property(TEST ${L_NAME} PROPERTY ENVIRONMENT "LAB_ENV_DIR=${CMAKE_BINARY_DIR}/lab" ${L_ENVIRONMENT})
endfunction()
