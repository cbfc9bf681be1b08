# Unit tests of the directory manager against the fake LDAP C API library: the
# manager's objects are linked straight into the test program.
ryx_add_gtest(manager_fake_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/manager_fake_test.cpp
  LIBS dirldap_core ryx8cms ryx8sys fakeldap_paths ryxlab ryxtesthelpers
  LABELS manager fake)

# A retry after a lost server forgets the dead connection without an unbind, so
# the fake's connection object of the first attempt is never released: that one
# allocation is expected and suppressed under memcheck (the program itself tells
# the leak sanitizer the same).
if(RYX_VALGRIND AND NOT RYX_SANITIZE)
  set(_fake_supp ${CMAKE_CURRENT_BINARY_DIR}/manager_fake_valgrind.supp)
  file(WRITE ${_fake_supp} [=[
{
   connection forgotten after a lost server (fake ldap_init)
   Memcheck:Leak
   match-leak-kinds: definite
   fun:_Znw*
   fun:*ldap_init
}
]=])
  add_test(NAME manager_fake_test_valgrind
           COMMAND ${RYX_VALGRIND} --quiet --error-exitcode=99 --leak-check=full
                   --errors-for-leak-kinds=definite --track-origins=yes
                   --suppressions=${_fake_supp} $<TARGET_FILE:manager_fake_test>)
  set_tests_properties(manager_fake_test_valgrind PROPERTIES TIMEOUT 900
                                                             LABELS "valgrind;manager;fake")
endif()
