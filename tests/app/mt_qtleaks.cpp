// The same suppressions for the threaded test program.
#include "qtleaks.cpp"
