#pragma once

#include <cstdlib>

// Setting and removing environment variables in a test, on both systems: Windows's C runtime
// has no setenv/unsetenv, and an empty value given to _putenv_s removes the variable.
namespace testenv {

inline void set(const char* name, const char* value)
{
#ifdef _WIN32
    ::_putenv_s(name, value);
#else
    ::setenv(name, value, 1);
#endif
}

inline void unset(const char* name)
{
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

} // namespace testenv
