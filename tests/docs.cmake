# The manual pages: any roff warning fails, since man renders such a page
# without a word of complaint, only wrong.
add_test(NAME docs.manpages
  COMMAND mandoc -T lint -W warning ${LAUNCHER_MAN_PAGES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
