// Linked into every test program: output leaves as it is written, so that a program that crashes still shows which
// case it was in and what had failed before (a pipe's buffer would die with it).

#include <cstdio>

namespace {

[[maybe_unused]] const int g_unbuffered = setvbuf(stdout, nullptr, _IONBF, 0);

} // namespace
