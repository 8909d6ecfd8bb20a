# kx_add_suite_tests(target env): one CTest entry per GoogleTest suite of the
# target, named "target:Suite" and run as "target --gtest_filter=Suite.*";
# the suites listed in KX_TEST_ALONE ("target:Suite") get one entry, and so
# one process, per test ("target:Suite.Test"): their tests need a fresh
# process each. The tests are listed after each build of the target (like
# gtest_discover_tests) and the entries made when CTest starts, and every
# entry gets env as its ENVIRONMENT.
set(KX_SUITE_LIST_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/KxSuiteTestsList.cmake)

function(kx_add_suite_tests target env)
  set(listing ${CMAKE_CURRENT_BINARY_DIR}/${target}_tests.txt)
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -D KX_WRITE_LISTING=1 -D TEST_EXECUTABLE=$<TARGET_FILE:${target}>
      -D LISTING=${listing} -P ${KX_SUITE_LIST_SCRIPT}
    BYPRODUCTS ${listing}
    VERBATIM)
  file(GENERATE OUTPUT ${include_file} CONTENT
"set(TEST_TARGET [==[${target}]==])
set(TEST_EXECUTABLE [==[$<TARGET_FILE:${target}>]==])
set(LISTING [==[${listing}]==])
set(TEST_ENV [==[${env}]==])
set(TEST_ALONE [==[${KX_TEST_ALONE}]==])
include([==[${KX_SUITE_LIST_SCRIPT}]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
