// The pieces of the C++ runtime that the launcher's code calls, for the
// binaries that link the library statically. The launcher is built without
// exceptions, yet the library's versions of these would throw, and linking
// them brings in its whole exception runtime, unwinder and name demangler:
// some 25 more symbols that the loader binds at every start (the binaries
// are linked for immediate binding). Each one here ends the process where
// the library would throw, which is what an uncaught throw would do.
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "%s\n", what);
  abort();
}

}  // namespace

// These are the library's own names and namespace, which is the point.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp)
namespace std {

void __throw_bad_exception() { fail("bad exception"); }
void __throw_bad_alloc() { fail("out of memory"); }
void __throw_bad_array_new_length() { fail("bad array length"); }
void __throw_bad_cast() { fail("bad cast"); }
void __throw_bad_typeid() { fail("bad typeid"); }
void __throw_logic_error(const char* what) { fail(what); }
void __throw_domain_error(const char* what) { fail(what); }
void __throw_invalid_argument(const char* what) { fail(what); }
void __throw_length_error(const char* what) { fail(what); }
void __throw_out_of_range(const char* what) { fail(what); }
void __throw_out_of_range_fmt(const char* format, ...) { fail(format); }
void __throw_runtime_error(const char* what) { fail(what); }
void __throw_range_error(const char* what) { fail(what); }
void __throw_overflow_error(const char* what) { fail(what); }
void __throw_underflow_error(const char* what) { fail(what); }

// The library's precondition checks (_GLIBCXX_ASSERTIONS) report here.
void __glibcxx_assert_fail(const char* file, int line, const char* function,
                           const char* condition) noexcept {
  fprintf(stderr, "%s:%d: %s: assertion '%s' failed\n", file, line, function,
          condition);
  abort();
}

}  // namespace std
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl58-cpp)

void* operator new(std::size_t size) {
  void* memory = malloc(size ? size : 1);
  if (!memory) std::__throw_bad_alloc();
  return memory;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return malloc(size ? size : 1);
}

void operator delete(void* memory) noexcept { free(memory); }

void operator delete(void* memory, std::size_t) noexcept { free(memory); }
