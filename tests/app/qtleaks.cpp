// Fontconfig and D-Bus (which the X11 platform uses) keep caches for the life of the
// process that LeakSanitizer reports at
// exit; they are the system library's, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
