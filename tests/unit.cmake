# unit tests
