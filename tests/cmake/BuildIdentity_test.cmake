# The build identity follows the code, not its comments: run with SCRIPT (the identity's
# script), COMPILER and WORK (an empty folder to make source trees in).
function(identity_of tree out)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree} -DCOMPILER=${COMPILER}
                          -DOUTPUT=${tree}/identity.h -P ${SCRIPT} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the identity of ${tree} could not be made")
  endif()
  file(READ ${tree}/identity.h text)
  string(REGEX MATCH "\"[0-9a-f]+\"" identity "${text}")
  set(${out} "${identity}" PARENT_SCOPE)
endfunction()

function(tree name code header)
  file(REMOVE_RECURSE ${WORK}/${name})
  file(WRITE ${WORK}/${name}/src/a/A.cpp "${code}")
  file(WRITE ${WORK}/${name}/include/x/x.h "${header}")
endfunction()

function(expect_same a b why)
  identity_of(${WORK}/${a} first)
  identity_of(${WORK}/${b} second)
  if(NOT first STREQUAL second)
    message(SEND_ERROR "${why}: ${first} and ${second}")
  endif()
endfunction()

function(expect_other a b why)
  identity_of(${WORK}/${a} first)
  identity_of(${WORK}/${b} second)
  if(first STREQUAL second)
    message(SEND_ERROR "${why}: both ${first}")
  endif()
endfunction()

set(code "// What A holds.\n#include \"x/x.h\"\n\nint A() { return 1; }  // one\nconst char* kUrl = \"http://a//b\";\n")
set(header "#pragma once\nint A();\n")
tree(base "${code}" "${header}")

tree(comments "/* What A holds,\n   in two lines. */\n#include \"x/x.h\"\n\n\n\nint A() {   return 1; }\n  // a note\nconst char* kUrl = \"http://a//b\";\n" "// The header.\n#pragma once\n\nint A();  /* declared */\n")
expect_same(base comments "comments and blank lines changed the identity")

tree(notes "${code}" "${header}")
file(WRITE ${WORK}/notes/src/README.md "The rooms.\n")
expect_same(base notes "a folder's notes changed the identity")

tree(code "${code}" "#pragma once\nint A();\nint B();\n")
expect_other(base code "a declaration added left the identity")

tree(string "// What A holds.\n#include \"x/x.h\"\n\nint A() { return 1; }  // one\nconst char* kUrl = \"http://a//c\";\n" "${header}")
expect_other(base string "a string that holds // changed and the identity did not")

tree(renamed "${code}" "${header}")
file(RENAME ${WORK}/renamed/src/a/A.cpp ${WORK}/renamed/src/a/B.cpp)
expect_other(base renamed "a file renamed left the identity")
