#include "run_command.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

int run_command(const char* format, ...) {
    char command[256];
    va_list args;
    va_start(args, format);
    vsnprintf(command, sizeof command, format, args);
    va_end(args);
    return std::system(command);
}
