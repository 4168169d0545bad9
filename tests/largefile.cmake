# Large files and wide inode numbers, end to end on every launcher binary.
target_sources(e2e_tests PRIVATE e2e/largefile_test.cpp)
