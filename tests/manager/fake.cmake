# Unit tests of the directory manager against the fake LDAP C API library: the
# manager's objects are linked straight into the test program.
ryx_add_gtest(manager_fake_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/manager_fake_test.cpp
  LIBS dirldap_core ryx8cms ryx8sys fakeldap_paths ryxlab ryxtesthelpers
  LABELS manager fake
  VALGRIND)
target_compile_definitions(manager_fake_test PRIVATE RYX_MANAGER_CASES="${CMAKE_CURRENT_LIST_DIR}/cases")
