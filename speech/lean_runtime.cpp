// Linked into each program and the runtime so that the statically linked C++
// runtime brings only what they use. Its stock versions of these functions
// pull in, through one shared object file each, the name demangler with printf
// and floating point formatting, every standard exception class, and a second
// string implementation with them: well over half of every program.
#include <stdlib.h>

#include <new>

// The stock handler names the uncaught exception on stderr, which a windowed
// program does not have.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    abort();
}
} // namespace __gnu_cxx

// The containers' failures. The code catches std::exception only where memory
// may run out and treats every failure there as out of memory; a length or
// range error means a request too large for memory all the same.
namespace std {
void __throw_bad_alloc()
{
    throw bad_alloc();
}
void __throw_bad_array_new_length()
{
    throw bad_alloc();
}
void __throw_length_error(const char *)
{
    throw bad_alloc();
}
void __throw_logic_error(const char *)
{
    throw bad_alloc();
}
void __throw_out_of_range_fmt(const char *, ...)
{
    throw bad_alloc();
}
} // namespace std
